//! Result codes, the per-thread text of the last failure, and small helpers shared by the exports.

use std::{
    cell::RefCell,
    ffi::{c_char, CStr, CString},
};

pub type KorvoResult = i8;

pub const KORVO_OK: KorvoResult = 0;
pub const KORVO_EINVAL: KorvoResult = -1;
pub const KORVO_EPARSE: KorvoResult = -2;
pub const KORVO_EIO: KorvoResult = -3;
pub const KORVO_ENULL: KorvoResult = -5;
pub const KORVO_EUTF8: KorvoResult = -9;
pub const KORVO_EGENERIC: KorvoResult = i8::MIN;

thread_local! {
    static LAST_ERROR: RefCell<CString> = RefCell::new(CString::default());
}

/// zenoh's error text without the source locations that its errors append (" at FILE.rs:LINE.").
pub(crate) fn describe(error: impl std::fmt::Display) -> String {
    let text = error.to_string();
    let mut out = String::with_capacity(text.len());
    let mut rest = text.as_str();
    while let Some(at) = rest.find(" at ") {
        let tail = &rest[at + 4..];
        let location = tail.find(".rs:").and_then(|rs| {
            let (path, after) = (&tail[..rs], &tail[rs + 4..]);
            let digits = after.bytes().take_while(u8::is_ascii_digit).count();
            (!path.contains(char::is_whitespace) && digits > 0 && after[digits..].starts_with('.'))
                .then_some(rs + 4 + digits + 1)
        });
        match location {
            Some(len) => {
                out.push_str(&rest[..at]);
                rest = &tail[len..];
            }
            None => {
                out.push_str(&rest[..at + 4]);
                rest = tail;
            }
        }
    }
    out.push_str(rest);
    out
}

/// Records `text` as the calling thread's last failure and returns `code`.
pub(crate) fn fail(code: KorvoResult, text: impl Into<String>) -> KorvoResult {
    let mut text: String = text.into();
    text.retain(|c| c != '\0');
    let text = CString::new(text).unwrap_or_default();
    LAST_ERROR.with(|last| *last.borrow_mut() = text);
    code
}

/// The text of the last failure on this thread ("" when none).
#[no_mangle]
pub extern "C" fn korvo_zenoh_last_error() -> *const c_char {
    LAST_ERROR.with(|last| last.borrow().as_ptr())
}

/// Installs zenoh's tracing output when RUST_LOG is set.
#[no_mangle]
pub extern "C" fn korvo_zenoh_try_init_log_from_env() {
    zenoh::try_init_log_from_env();
}

/// Bytes from a (pointer, length) pair; NULL is accepted for an empty slice.
///
/// # Safety
/// `data` must point to `len` readable bytes when `len` is not 0.
pub(crate) unsafe fn bytes<'a>(data: *const u8, len: usize) -> Option<&'a [u8]> {
    if len == 0 {
        Some(&[])
    } else if data.is_null() {
        None
    } else {
        Some(std::slice::from_raw_parts(data, len))
    }
}

/// UTF-8 text from a (pointer, length) pair; Err carries the result code already recorded.
///
/// # Safety
/// As for [`bytes`].
pub(crate) unsafe fn text<'a>(
    data: *const c_char,
    len: usize,
    what: &str,
) -> Result<&'a str, KorvoResult> {
    let raw =
        bytes(data.cast(), len).ok_or_else(|| fail(KORVO_ENULL, format!("{what} is NULL")))?;
    std::str::from_utf8(raw).map_err(|e| fail(KORVO_EUTF8, format!("{what} is not UTF-8: {e}")))
}

/// A NUL-terminated optional encoding text; NULL gives zenoh's default encoding.
///
/// # Safety
/// `encoding` is NULL or a NUL-terminated string.
pub(crate) unsafe fn encoding_of(
    encoding: *const c_char,
) -> Result<zenoh::bytes::Encoding, KorvoResult> {
    if encoding.is_null() {
        return Ok(zenoh::bytes::Encoding::default());
    }
    match CStr::from_ptr(encoding).to_str() {
        Ok(s) => Ok(zenoh::bytes::Encoding::from(s)),
        Err(e) => Err(fail(KORVO_EUTF8, format!("encoding is not UTF-8: {e}"))),
    }
}

/// Stores `value` in `*out` as an owned handle.
///
/// # Safety
/// `out` is a valid pointer.
pub(crate) unsafe fn emit<T, H>(out: *mut *mut H, value: T) -> KorvoResult {
    *out = Box::into_raw(Box::new(value)).cast();
    KORVO_OK
}

/// Releases a handle made by [`emit`]; NULL is ignored.
///
/// # Safety
/// `handle` is NULL or came from [`emit`] with the same `T` and is not used again.
pub(crate) unsafe fn release<T, H>(handle: *mut H) -> Option<T> {
    if handle.is_null() {
        None
    } else {
        Some(*Box::from_raw(handle.cast::<T>()))
    }
}

/// Borrows a handle made by [`emit`].
///
/// # Safety
/// `handle` is NULL or a live handle of type `T`.
pub(crate) unsafe fn borrow<'a, T, H>(handle: *const H, what: &str) -> Result<&'a T, KorvoResult> {
    handle
        .cast::<T>()
        .as_ref()
        .ok_or_else(|| fail(KORVO_ENULL, format!("{what} is NULL")))
}

macro_rules! check_out {
    ($out:expr) => {
        if $out.is_null() {
            return $crate::error::fail($crate::error::KORVO_ENULL, "output pointer is NULL");
        }
        *$out = std::ptr::null_mut();
    };
}
pub(crate) use check_out;

macro_rules! try_k {
    ($e:expr) => {
        match $e {
            Ok(v) => v,
            Err(code) => return code,
        }
    };
}
pub(crate) use try_k;
