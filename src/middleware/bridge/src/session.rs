//! Sessions: open, close, release.

use zenoh::{Config, Session, Wait};

use crate::{config::KorvoConfig, error::*};

pub enum KorvoSession {}

#[no_mangle]
pub unsafe extern "C" fn korvo_session_open(
    out: *mut *mut KorvoSession,
    config: *mut KorvoConfig,
) -> KorvoResult {
    let config = release::<Config, _>(config);
    check_out!(out);
    let Some(config) = config else {
        return fail(KORVO_ENULL, "configuration is NULL");
    };
    match zenoh::open(config).wait() {
        Ok(session) => emit(out, session),
        Err(e) => fail(KORVO_EGENERIC, describe(e)),
    }
}

#[no_mangle]
pub unsafe extern "C" fn korvo_session_close(session: *const KorvoSession) -> KorvoResult {
    let session = try_k!(borrow::<Session, _>(session, "session"));
    if session.is_closed() {
        return KORVO_OK;
    }
    match session.close().wait() {
        Ok(()) => KORVO_OK,
        Err(e) => fail(KORVO_EGENERIC, describe(e)),
    }
}

#[no_mangle]
pub unsafe extern "C" fn korvo_session_drop(session: *mut KorvoSession) {
    drop(release::<Session, _>(session));
}

/// The session behind a borrowed handle.
pub(crate) unsafe fn session_ref<'a>(
    session: *const KorvoSession,
) -> Result<&'a Session, KorvoResult> {
    borrow::<Session, _>(session, "session")
}
