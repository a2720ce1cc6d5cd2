//! Configurations: zenoh's default, a JSON5 text, a file.

use std::{
    ffi::{c_char, CStr},
    path::Path,
};

use zenoh::Config;

use crate::error::*;

pub enum KorvoConfig {}

#[no_mangle]
pub unsafe extern "C" fn korvo_config_default(out: *mut *mut KorvoConfig) -> KorvoResult {
    check_out!(out);
    emit(out, Config::default())
}

#[no_mangle]
pub unsafe extern "C" fn korvo_config_from_str(
    out: *mut *mut KorvoConfig,
    json5: *const c_char,
    len: usize,
) -> KorvoResult {
    check_out!(out);
    let s = try_k!(text(json5, len, "configuration text"));
    match Config::from_json5(s) {
        Ok(config) => emit(out, config),
        Err(e) => fail(
            KORVO_EPARSE,
            format!("invalid configuration: {}", describe(e)),
        ),
    }
}

#[no_mangle]
pub unsafe extern "C" fn korvo_config_from_file(
    out: *mut *mut KorvoConfig,
    path: *const c_char,
) -> KorvoResult {
    check_out!(out);
    if path.is_null() {
        return fail(KORVO_ENULL, "configuration file path is NULL");
    }
    let path = match CStr::from_ptr(path).to_str() {
        Ok(p) => p,
        Err(e) => {
            return fail(
                KORVO_EUTF8,
                format!("configuration file path is not UTF-8: {e}"),
            )
        }
    };
    // zenoh also takes .yml (and .toml with `unstable`); we keep to the three documented names.
    match Path::new(path).extension().and_then(|e| e.to_str()) {
        Some("json5") | Some("json") | Some("yaml") => {}
        _ => {
            return fail(
                KORVO_EPARSE,
                "unsupported file type (.json5, .json and .yaml are supported)".to_string(),
            )
        }
    }
    if let Err(e) = std::fs::metadata(path) {
        return fail(KORVO_EIO, describe(e));
    }
    match Config::from_file(path) {
        Ok(config) => emit(out, config),
        Err(e) => fail(KORVO_EPARSE, describe(e)),
    }
}

#[no_mangle]
pub unsafe extern "C" fn korvo_config_drop(config: *mut KorvoConfig) {
    drop(release::<Config, _>(config));
}
