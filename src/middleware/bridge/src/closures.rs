//! C closures held by zenoh callbacks, and the option values of the C ABI.

use std::ffi::{c_int, c_void};

use zenoh::{
    qos::{CongestionControl, Priority, Reliability},
    query::{ConsolidationMode, QueryConsolidation, QueryTarget},
    sample::Locality,
};

use crate::error::*;

pub type DropFn = unsafe extern "C" fn(context: *mut c_void);

/// Owns a C closure: calls go to `call`, and dropping the value runs the C drop exactly once.
/// Moved into the Rust closure that zenoh keeps, so zenoh's own drop of its callback (after the
/// last call) is what runs the C drop, on whichever thread releases it.
pub(crate) struct Closure<F: Copy> {
    context: *mut c_void,
    call: Option<F>,
    drop: Option<DropFn>,
}

// The C side promises that its context may be used from any thread (header contract).
unsafe impl<F: Copy> Send for Closure<F> {}
unsafe impl<F: Copy> Sync for Closure<F> {}

impl<F: Copy> Closure<F> {
    pub(crate) fn new(context: *mut c_void, call: Option<F>, drop: Option<DropFn>) -> Self {
        Self {
            context,
            call,
            drop,
        }
    }
    pub(crate) fn call(&self) -> Option<F> {
        self.call
    }
    pub(crate) fn context(&self) -> *mut c_void {
        self.context
    }
}

impl<F: Copy> Drop for Closure<F> {
    fn drop(&mut self) {
        if let Some(drop) = self.drop.take() {
            unsafe { drop(self.context) }
        }
    }
}

pub(crate) fn congestion_control(v: c_int) -> Result<CongestionControl, KorvoResult> {
    match v {
        0 => Ok(CongestionControl::Block),
        1 => Ok(CongestionControl::Drop),
        _ => Err(fail(
            KORVO_EINVAL,
            format!("invalid congestion control {v}"),
        )),
    }
}

pub(crate) fn priority(v: c_int) -> Result<Priority, KorvoResult> {
    u8::try_from(v)
        .ok()
        .and_then(|p| Priority::try_from(p).ok())
        .ok_or_else(|| fail(KORVO_EINVAL, format!("invalid priority {v} (1..7)")))
}

pub(crate) fn reliability(v: c_int) -> Result<Reliability, KorvoResult> {
    match v {
        0 => Ok(Reliability::BestEffort),
        1 => Ok(Reliability::Reliable),
        _ => Err(fail(KORVO_EINVAL, format!("invalid reliability {v}"))),
    }
}

pub(crate) fn locality(v: c_int) -> Result<Locality, KorvoResult> {
    match v {
        0 => Ok(Locality::Any),
        1 => Ok(Locality::SessionLocal),
        2 => Ok(Locality::Remote),
        _ => Err(fail(KORVO_EINVAL, format!("invalid locality {v}"))),
    }
}

pub(crate) fn query_target(v: c_int) -> Result<QueryTarget, KorvoResult> {
    match v {
        0 => Ok(QueryTarget::BestMatching),
        1 => Ok(QueryTarget::All),
        2 => Ok(QueryTarget::AllComplete),
        _ => Err(fail(KORVO_EINVAL, format!("invalid query target {v}"))),
    }
}

pub(crate) fn consolidation(v: c_int) -> Result<QueryConsolidation, KorvoResult> {
    match v {
        -1 => Ok(QueryConsolidation::DEFAULT),
        0 => Ok(ConsolidationMode::None.into()),
        1 => Ok(ConsolidationMode::Monotonic.into()),
        2 => Ok(ConsolidationMode::Latest.into()),
        _ => Err(fail(
            KORVO_EINVAL,
            format!("invalid consolidation mode {v}"),
        )),
    }
}
