//! C ABI over the `zenoh` crate for the Korvo VYR SDK: the subset the middleware and the
//! simulator need (sessions, key expressions, publishers, subscribers, queries, queryables).
//! The contract of every function is in include/korvo_zenoh_bridge.h.
//!
//! Built with `panic = "abort"`: no panic unwinds across the ABI. Callbacks into C run on zenoh's
//! threads; their C side promises not to unwind.

// The safety contract of every export is the C header's.
#![allow(clippy::missing_safety_doc)]

mod closures;
mod config;
mod error;
mod keyexpr;
mod pubsub;
mod query;
mod session;

pub use closures::*;
pub use config::*;
pub use error::*;
pub use keyexpr::*;
pub use pubsub::*;
pub use query::*;
pub use session::*;
