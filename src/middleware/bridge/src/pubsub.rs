//! Publishers and subscribers.

use std::{
    borrow::Cow,
    ffi::{c_char, c_int, c_void},
};

use zenoh::{
    pubsub::{Publisher, Subscriber},
    sample::{Sample, SampleKind},
    Wait,
};

use crate::{closures::*, error::*, keyexpr::keyexpr_ref, session::*};

pub enum KorvoPublisher {}
pub enum KorvoSubscriber {}

#[repr(C)]
pub struct KorvoPublisherOptions {
    pub congestion_control: c_int,
    pub priority: c_int,
    pub is_express: bool,
    pub reliability: c_int,
    pub allowed_destination: c_int,
}

#[no_mangle]
pub unsafe extern "C" fn korvo_publisher_options_default(options: *mut KorvoPublisherOptions) {
    if let Some(options) = options.as_mut() {
        *options = KorvoPublisherOptions {
            congestion_control: 1,
            priority: 5,
            is_express: false,
            reliability: 1,
            allowed_destination: 0,
        };
    }
}

#[no_mangle]
pub unsafe extern "C" fn korvo_declare_publisher(
    session: *const KorvoSession,
    out: *mut *mut KorvoPublisher,
    keyexpr: *const crate::keyexpr::KorvoKeyExpr,
    options: *const KorvoPublisherOptions,
) -> KorvoResult {
    check_out!(out);
    let session = try_k!(session_ref(session));
    let key = try_k!(keyexpr_ref(keyexpr));
    let mut builder = session.declare_publisher(key.clone());
    if let Some(o) = options.as_ref() {
        builder = builder
            .congestion_control(try_k!(congestion_control(o.congestion_control)))
            .priority(try_k!(priority(o.priority)))
            .express(o.is_express)
            .reliability(try_k!(reliability(o.reliability)))
            .allowed_destination(try_k!(locality(o.allowed_destination)));
    }
    match builder.wait() {
        Ok(publisher) => emit::<Publisher<'static>, _>(out, publisher),
        Err(e) => fail(KORVO_EGENERIC, describe(e)),
    }
}

#[no_mangle]
pub unsafe extern "C" fn korvo_publisher_put(
    publisher: *const KorvoPublisher,
    payload: *const u8,
    len: usize,
    encoding: *const c_char,
) -> KorvoResult {
    let publisher = try_k!(borrow::<Publisher<'static>, _>(publisher, "publisher"));
    let Some(payload) = bytes(payload, len) else {
        return fail(KORVO_ENULL, "payload is NULL");
    };
    let encoding = try_k!(encoding_of(encoding));
    match publisher.put(payload.to_vec()).encoding(encoding).wait() {
        Ok(()) => KORVO_OK,
        Err(e) => fail(KORVO_EGENERIC, describe(e)),
    }
}

#[no_mangle]
pub unsafe extern "C" fn korvo_publisher_drop(publisher: *mut KorvoPublisher) {
    if let Some(publisher) = release::<Publisher<'static>, _>(publisher) {
        // Fails only when the session is already closed, where there is nothing left to undo.
        let _ = publisher.undeclare().wait();
    }
}

#[repr(C)]
pub struct KorvoSampleView {
    pub payload: *const u8,
    pub payload_len: usize,
    pub keyexpr: *const c_char,
    pub keyexpr_len: usize,
    pub encoding: *const c_char,
    pub encoding_len: usize,
    pub kind: c_int,
}

pub type SampleCallFn = unsafe extern "C" fn(sample: *const KorvoSampleView, context: *mut c_void);

#[repr(C)]
pub struct KorvoClosureSample {
    pub context: *mut c_void,
    pub call: Option<SampleCallFn>,
    pub drop: Option<DropFn>,
}

#[repr(C)]
pub struct KorvoSubscriberOptions {
    pub allowed_origin: c_int,
}

#[no_mangle]
pub unsafe extern "C" fn korvo_subscriber_options_default(options: *mut KorvoSubscriberOptions) {
    if let Some(options) = options.as_mut() {
        options.allowed_origin = 0;
    }
}

fn deliver_sample(closure: &Closure<SampleCallFn>, sample: &Sample) {
    let Some(call) = closure.call() else { return };
    let payload = sample.payload().to_bytes();
    let key = sample.key_expr().as_str();
    let encoding: Cow<'static, str> = sample.encoding().into();
    let view = KorvoSampleView {
        payload: payload.as_ptr(),
        payload_len: payload.len(),
        keyexpr: key.as_ptr().cast(),
        keyexpr_len: key.len(),
        encoding: encoding.as_ptr().cast(),
        encoding_len: encoding.len(),
        kind: match sample.kind() {
            SampleKind::Put => 0,
            SampleKind::Delete => 1,
        },
    };
    unsafe { call(&view, closure.context()) }
}

#[no_mangle]
pub unsafe extern "C" fn korvo_declare_subscriber(
    session: *const KorvoSession,
    out: *mut *mut KorvoSubscriber,
    keyexpr: *const crate::keyexpr::KorvoKeyExpr,
    closure: KorvoClosureSample,
    options: *const KorvoSubscriberOptions,
) -> KorvoResult {
    // Owned first, so that every early return below runs the C drop.
    let closure = Closure::new(closure.context, closure.call, closure.drop);
    check_out!(out);
    if closure.call().is_none() {
        return fail(KORVO_ENULL, "subscriber callback is NULL");
    }
    let session = try_k!(session_ref(session));
    let key = try_k!(keyexpr_ref(keyexpr));
    let origin = match options.as_ref() {
        Some(o) => try_k!(locality(o.allowed_origin)),
        None => zenoh::sample::Locality::default(),
    };
    let declared = session
        .declare_subscriber(key.clone())
        .allowed_origin(origin)
        .callback(move |sample: Sample| deliver_sample(&closure, &sample))
        .wait();
    match declared {
        Ok(subscriber) => emit::<Subscriber<()>, _>(out, subscriber),
        Err(e) => fail(KORVO_EGENERIC, describe(e)),
    }
}

#[no_mangle]
pub unsafe extern "C" fn korvo_subscriber_drop(subscriber: *mut KorvoSubscriber) {
    if let Some(subscriber) = release::<Subscriber<()>, _>(subscriber) {
        // Returns once no call of the callback is running, so the caller may free what it uses.
        let _ = subscriber.undeclare().wait_callbacks().wait();
    }
}
