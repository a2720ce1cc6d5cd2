//! Key expressions.

use std::ffi::c_char;

use zenoh::key_expr::KeyExpr;

use crate::error::*;

pub enum KorvoKeyExpr {}

#[no_mangle]
pub unsafe extern "C" fn korvo_keyexpr_from_substr_autocanonize(
    out: *mut *mut KorvoKeyExpr,
    s: *const c_char,
    len: usize,
) -> KorvoResult {
    check_out!(out);
    let s = try_k!(text(s, len, "key expression"));
    match KeyExpr::autocanonize(s.to_owned()) {
        Ok(k) => emit(out, k),
        Err(e) => fail(KORVO_EINVAL, describe(e)),
    }
}

#[no_mangle]
pub unsafe extern "C" fn korvo_keyexpr_as_str(
    keyexpr: *const KorvoKeyExpr,
    data: *mut *const c_char,
    len: *mut usize,
) {
    let s = match borrow::<KeyExpr<'static>, _>(keyexpr, "key expression") {
        Ok(k) => k.as_str(),
        Err(_) => "",
    };
    write_str(s, data, len);
}

#[no_mangle]
pub unsafe extern "C" fn korvo_keyexpr_drop(keyexpr: *mut KorvoKeyExpr) {
    drop(release::<KeyExpr<'static>, _>(keyexpr));
}

pub(crate) unsafe fn keyexpr_ref<'a>(
    keyexpr: *const KorvoKeyExpr,
) -> Result<&'a KeyExpr<'static>, KorvoResult> {
    borrow::<KeyExpr<'static>, _>(keyexpr, "key expression")
}

/// Writes a (pointer, length) view of `s` to the output pointers that are not NULL.
pub(crate) unsafe fn write_str(s: &str, data: *mut *const c_char, len: *mut usize) {
    if !data.is_null() {
        *data = s.as_ptr().cast();
    }
    if !len.is_null() {
        *len = s.len();
    }
}
