// Key-expression pieces shared by every zenoh-facing service of the client.
#pragma once

namespace korvo::vyr_impl {

// Robot-side services are addressed as <prefix> + serial number + <suffix>. Character arrays, so
// that they concatenate with std::string in any order.
inline constexpr char kVyrPrefix[] = "korvo/vyr/";
inline constexpr char kQelPrefix[] = "korvo/robot/";

inline constexpr char kRpcSuffix[] = "/rpc";
inline constexpr char kStatesSuffix[] = "/states";
inline constexpr char kCommandsSuffix[] = "/commands";
inline constexpr char kHeartbeatSuffix[] = "/heartbeat";
inline constexpr char kBasicStreamSuffix[] = "/basic_stream_data";
inline constexpr char kExtraStreamSuffix[] = "/extra_stream_data";
inline constexpr char kEventLogSuffix[] = "/event_log";

}  // namespace korvo::vyr_impl
