// The process-wide zenoh session shared by every client.
#pragma once

#include <memory>

#include "middleware/zenoh.hpp"

namespace korvo::zenoh_mdw {

// Returns the session that any client of this process still holds, or opens a new one with the
// default configuration. The session closes when its last holder releases it. Throws
// zenoh::ZException when no session can be opened.
std::shared_ptr<zenoh::Session> GetSharedSession();

}  // namespace korvo::zenoh_mdw
