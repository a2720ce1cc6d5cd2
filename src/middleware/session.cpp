#include "middleware/session.hpp"

#include <mutex>

namespace korvo::zenoh_mdw {

std::shared_ptr<zenoh::Session> GetSharedSession() {
  static std::mutex mutex;
  static std::weak_ptr<zenoh::Session> current;

  std::lock_guard lock(mutex);
  if (auto session = current.lock()) return session;

  // zenoh's default configuration, or the file that ZENOH_CONFIG names.
  auto session = std::make_shared<zenoh::Session>(zenoh::Config::create_default());
  current = session;
  return session;
}

}  // namespace korvo::zenoh_mdw
