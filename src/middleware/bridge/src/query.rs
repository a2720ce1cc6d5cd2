//! Queries (get), queryables and the queries they receive.

use std::{
    borrow::Cow,
    ffi::{c_char, c_int, c_void},
    sync::OnceLock,
    time::Duration,
};

use zenoh::{
    bytes::ZBytes,
    query::{Query, Queryable, Reply},
    Wait,
};

use crate::{
    closures::*,
    error::*,
    keyexpr::{keyexpr_ref, write_str, KorvoKeyExpr},
    session::*,
};

// ---- get -------------------------------------------------------------------------------------

#[repr(C)]
pub struct KorvoReplyView {
    pub is_ok: bool,
    pub payload: *const u8,
    pub payload_len: usize,
    pub encoding: *const c_char,
    pub encoding_len: usize,
    pub keyexpr: *const c_char,
    pub keyexpr_len: usize,
}

pub type ReplyCallFn = unsafe extern "C" fn(reply: *const KorvoReplyView, context: *mut c_void);

#[repr(C)]
pub struct KorvoClosureReply {
    pub context: *mut c_void,
    pub call: Option<ReplyCallFn>,
    pub drop: Option<DropFn>,
}

#[repr(C)]
pub struct KorvoGetOptions {
    pub target: c_int,
    pub consolidation: c_int,
    pub congestion_control: c_int,
    pub priority: c_int,
    pub is_express: bool,
    pub allowed_destination: c_int,
    pub timeout_ms: u64,
    pub payload: *const u8,
    pub payload_len: usize,
    pub encoding: *const c_char,
}

#[no_mangle]
pub unsafe extern "C" fn korvo_get_options_default(options: *mut KorvoGetOptions) {
    if let Some(options) = options.as_mut() {
        *options = KorvoGetOptions {
            target: 0,
            consolidation: -1,
            congestion_control: 0,
            priority: 5,
            is_express: false,
            allowed_destination: 0,
            timeout_ms: 0,
            payload: std::ptr::null(),
            payload_len: 0,
            encoding: std::ptr::null(),
        };
    }
}

fn deliver_reply(closure: &Closure<ReplyCallFn>, reply: &Reply) {
    let Some(call) = closure.call() else { return };
    let (is_ok, payload, encoding, key): (bool, Cow<[u8]>, Cow<'static, str>, &str) =
        match reply.result() {
            Ok(sample) => (
                true,
                sample.payload().to_bytes(),
                sample.encoding().into(),
                sample.key_expr().as_str(),
            ),
            Err(err) => (false, err.payload().to_bytes(), err.encoding().into(), ""),
        };
    let view = KorvoReplyView {
        is_ok,
        payload: payload.as_ptr(),
        payload_len: payload.len(),
        encoding: encoding.as_ptr().cast(),
        encoding_len: encoding.len(),
        keyexpr: key.as_ptr().cast(),
        keyexpr_len: key.len(),
    };
    unsafe { call(&view, closure.context()) }
}

#[no_mangle]
pub unsafe extern "C" fn korvo_get(
    session: *const KorvoSession,
    keyexpr: *const KorvoKeyExpr,
    parameters: *const c_char,
    parameters_len: usize,
    closure: KorvoClosureReply,
    options: *const KorvoGetOptions,
) -> KorvoResult {
    // Owned first: every return before zenoh takes it runs the C "finished" drop here.
    let closure = Closure::new(closure.context, closure.call, closure.drop);
    if closure.call().is_none() {
        return fail(KORVO_ENULL, "reply callback is NULL");
    }
    let session = try_k!(session_ref(session));
    let key = try_k!(keyexpr_ref(keyexpr));
    let parameters = try_k!(text(parameters, parameters_len, "parameters"));
    let mut builder = session.get((key.clone(), parameters.to_owned()));
    if let Some(o) = options.as_ref() {
        builder = builder
            .target(try_k!(query_target(o.target)))
            .consolidation(try_k!(consolidation(o.consolidation)))
            .congestion_control(try_k!(congestion_control(o.congestion_control)))
            .priority(try_k!(priority(o.priority)))
            .express(o.is_express)
            .allowed_destination(try_k!(locality(o.allowed_destination)));
        if o.timeout_ms != 0 {
            builder = builder.timeout(Duration::from_millis(o.timeout_ms));
        }
        if !o.payload.is_null() {
            let Some(payload) = bytes(o.payload, o.payload_len) else {
                return fail(KORVO_ENULL, "payload is NULL");
            };
            builder = builder
                .payload(ZBytes::from(payload.to_vec()))
                .encoding(try_k!(encoding_of(o.encoding)));
        }
    }
    // zenoh drops the callback (and so runs the C drop) after the last reply, or before `wait`
    // returns when the query cannot be issued.
    let issued = builder
        .callback(move |reply: Reply| deliver_reply(&closure, &reply))
        .wait();
    match issued {
        Ok(()) => KORVO_OK,
        Err(e) => fail(KORVO_EGENERIC, describe(e)),
    }
}

// ---- queryable -------------------------------------------------------------------------------

pub enum KorvoQueryable {}
pub enum KorvoQuery {}

/// An owned query with the contiguous copies that its views may need.
pub(crate) struct QueryHandle {
    query: Query,
    payload: OnceLock<Vec<u8>>,
    encoding: OnceLock<String>,
}

pub type QueryCallFn = unsafe extern "C" fn(query: *mut KorvoQuery, context: *mut c_void);

#[repr(C)]
pub struct KorvoClosureQuery {
    pub context: *mut c_void,
    pub call: Option<QueryCallFn>,
    pub drop: Option<DropFn>,
}

#[repr(C)]
pub struct KorvoQueryableOptions {
    pub complete: bool,
    pub allowed_origin: c_int,
}

#[no_mangle]
pub unsafe extern "C" fn korvo_queryable_options_default(options: *mut KorvoQueryableOptions) {
    if let Some(options) = options.as_mut() {
        *options = KorvoQueryableOptions {
            complete: false,
            allowed_origin: 0,
        };
    }
}

fn deliver_query(closure: &Closure<QueryCallFn>, query: Query) {
    let Some(call) = closure.call() else { return };
    let handle = Box::into_raw(Box::new(QueryHandle {
        query,
        payload: OnceLock::new(),
        encoding: OnceLock::new(),
    }));
    unsafe { call(handle.cast(), closure.context()) }
}

#[no_mangle]
pub unsafe extern "C" fn korvo_declare_queryable(
    session: *const KorvoSession,
    out: *mut *mut KorvoQueryable,
    keyexpr: *const KorvoKeyExpr,
    closure: KorvoClosureQuery,
    options: *const KorvoQueryableOptions,
) -> KorvoResult {
    let closure = Closure::new(closure.context, closure.call, closure.drop);
    check_out!(out);
    if closure.call().is_none() {
        return fail(KORVO_ENULL, "queryable callback is NULL");
    }
    let session = try_k!(session_ref(session));
    let key = try_k!(keyexpr_ref(keyexpr));
    let mut builder = session.declare_queryable(key.clone());
    if let Some(o) = options.as_ref() {
        builder = builder
            .complete(o.complete)
            .allowed_origin(try_k!(locality(o.allowed_origin)));
    }
    let declared = builder
        .callback(move |query: Query| deliver_query(&closure, query))
        .wait();
    match declared {
        Ok(queryable) => emit::<Queryable<()>, _>(out, queryable),
        Err(e) => fail(KORVO_EGENERIC, describe(e)),
    }
}

#[no_mangle]
pub unsafe extern "C" fn korvo_queryable_drop(queryable: *mut KorvoQueryable) {
    if let Some(queryable) = release::<Queryable<()>, _>(queryable) {
        let _ = queryable.undeclare().wait_callbacks().wait();
    }
}

unsafe fn query_handle<'a>(query: *const KorvoQuery) -> Result<&'a QueryHandle, KorvoResult> {
    borrow::<QueryHandle, _>(query, "query")
}

#[no_mangle]
pub unsafe extern "C" fn korvo_query_keyexpr(
    query: *const KorvoQuery,
    data: *mut *const c_char,
    len: *mut usize,
) {
    let s = query_handle(query)
        .map(|q| q.query.key_expr().as_str())
        .unwrap_or("");
    write_str(s, data, len);
}

#[no_mangle]
pub unsafe extern "C" fn korvo_query_parameters(
    query: *const KorvoQuery,
    data: *mut *const c_char,
    len: *mut usize,
) {
    let s = query_handle(query)
        .map(|q| q.query.parameters().as_str())
        .unwrap_or("");
    write_str(s, data, len);
}

#[no_mangle]
pub unsafe extern "C" fn korvo_query_payload(
    query: *const KorvoQuery,
    data: *mut *const u8,
    len: *mut usize,
) -> bool {
    let payload: Option<&[u8]> = query_handle(query).ok().and_then(|q| {
        q.query.payload().map(|p| match p.to_bytes() {
            Cow::Borrowed(b) => b,
            Cow::Owned(v) => q.payload.get_or_init(|| v).as_slice(),
        })
    });
    let view = payload.unwrap_or(&[]);
    if !data.is_null() {
        *data = view.as_ptr();
    }
    if !len.is_null() {
        *len = view.len();
    }
    payload.is_some()
}

#[no_mangle]
pub unsafe extern "C" fn korvo_query_encoding(
    query: *const KorvoQuery,
    data: *mut *const c_char,
    len: *mut usize,
) -> bool {
    let encoding: Option<&str> = query_handle(query).ok().and_then(|q| {
        q.query
            .encoding()
            .map(|e| match Cow::<'static, str>::from(e) {
                Cow::Borrowed(s) => s,
                Cow::Owned(s) => q.encoding.get_or_init(|| s).as_str(),
            })
    });
    write_str(encoding.unwrap_or(""), data, len);
    encoding.is_some()
}

#[no_mangle]
pub unsafe extern "C" fn korvo_query_reply(
    query: *const KorvoQuery,
    keyexpr: *const KorvoKeyExpr,
    payload: *const u8,
    len: usize,
    encoding: *const c_char,
) -> KorvoResult {
    let q = try_k!(query_handle(query));
    let key = if keyexpr.is_null() {
        q.query.key_expr().clone()
    } else {
        try_k!(keyexpr_ref(keyexpr)).clone()
    };
    let Some(payload) = bytes(payload, len) else {
        return fail(KORVO_ENULL, "payload is NULL");
    };
    let encoding = try_k!(encoding_of(encoding));
    match q
        .query
        .reply(key, payload.to_vec())
        .encoding(encoding)
        .wait()
    {
        Ok(()) => KORVO_OK,
        Err(e) => fail(KORVO_EGENERIC, describe(e)),
    }
}

#[no_mangle]
pub unsafe extern "C" fn korvo_query_reply_err(
    query: *const KorvoQuery,
    payload: *const u8,
    len: usize,
    encoding: *const c_char,
) -> KorvoResult {
    let q = try_k!(query_handle(query));
    let Some(payload) = bytes(payload, len) else {
        return fail(KORVO_ENULL, "payload is NULL");
    };
    let encoding = try_k!(encoding_of(encoding));
    match q
        .query
        .reply_err(payload.to_vec())
        .encoding(encoding)
        .wait()
    {
        Ok(()) => KORVO_OK,
        Err(e) => fail(KORVO_EGENERIC, describe(e)),
    }
}

#[no_mangle]
pub unsafe extern "C" fn korvo_query_drop(query: *mut KorvoQuery) {
    drop(release::<QueryHandle, _>(query));
}
