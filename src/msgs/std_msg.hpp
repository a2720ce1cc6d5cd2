// General-purpose messages: the client's heartbeat.
#pragma once

#include "middleware/serialization.hpp"

namespace korvo::zenoh_msgs::std_msg {

struct Bool {
  bool data = false;
};

inline bool Serialize(zenoh_mdw::Serializer& s, const Bool& m, zenoh::ZResult* err = nullptr) {
  return zenoh_mdw::Serialize(s, m.data, err);
}
inline bool Deserialize(zenoh_mdw::Deserializer& d, Bool& m, zenoh::ZResult* err = nullptr) {
  return zenoh_mdw::Deserialize(d, m.data, err);
}

}  // namespace korvo::zenoh_msgs::std_msg
