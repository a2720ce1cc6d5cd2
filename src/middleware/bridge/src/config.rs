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
        Ok(config) => emit_checked(out, config),
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
        Ok(config) => emit_checked(out, config),
        Err(e) => fail(KORVO_EPARSE, describe(e)),
    }
}

/// The settings that name a file zenoh reads only when a link or a handshake needs it: the
/// certificates and keys of TLS and the user/password dictionary.
const NAMED_FILES: [&str; 6] = [
    "transport/link/tls/root_ca_certificate",
    "transport/link/tls/listen_certificate",
    "transport/link/tls/listen_private_key",
    "transport/link/tls/connect_certificate",
    "transport/link/tls/connect_private_key",
    "transport/auth/usrpwd/dictionary_file",
];

/// Checks that every file the configuration names can be opened. zenoh itself opens them only
/// when a link is made, and a peer's links are retried in the background: a mistyped
/// certificate path would show up as a robot that cannot be found, not as the missing file.
fn check_named_files(config: &Config) -> Result<(), String> {
    for key in NAMED_FILES {
        let Ok(json) = config.get_json(key) else {
            continue;
        };
        let Ok(Some(path)) = serde_json::from_str::<Option<String>>(&json) else {
            continue;
        };
        if let Err(e) = std::fs::File::open(&path) {
            return Err(format!("{key} names the file {path}, which cannot be read: {e}"));
        }
    }
    Ok(())
}

unsafe fn emit_checked(out: *mut *mut KorvoConfig, config: Config) -> KorvoResult {
    match check_named_files(&config) {
        Ok(()) => emit(out, config),
        Err(text) => fail(KORVO_EIO, text),
    }
}

#[no_mangle]
pub unsafe extern "C" fn korvo_config_drop(config: *mut KorvoConfig) {
    drop(release::<Config, _>(config));
}
