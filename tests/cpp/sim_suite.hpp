// A test suite with one simulator on a free loopback port; the clients that the tests create
// connect to it through ZENOH_CONFIG.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "eventually.hpp"
#include "korvo/vyr/name_tables.hpp"
#include "loopback.hpp"
#include "sim/simulator.hpp"

namespace korvo::test {

// The VYR requests of operation `op_code` that `host` received, oldest first.
inline std::vector<zenoh_msgs::vyr_msg::RPCRequest> VyrRequestsOf(const sim::RobotHost& host,
                                                                  std::uint16_t op_code) {
  std::vector<zenoh_msgs::vyr_msg::RPCRequest> found;
  for (const auto& r : host.vyr_requests()) {
    if (r.request.op_code == op_code) found.push_back(r.request);
  }
  return found;
}

// The operation codes of the VYR requests `host` received, oldest first.
inline std::vector<std::uint16_t> VyrOpCodesOf(const sim::RobotHost& host) {
  std::vector<std::uint16_t> codes;
  for (const auto& r : host.vyr_requests()) codes.push_back(r.request.op_code);
  return codes;
}

class SimulatorSuite : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    const int port = FreeTcpPort();
    simulator_ = std::make_unique<sim::Simulator>(zenoh::Config::from_str(ListenerConfig(port)));
    connector_ = std::make_unique<TempFile>(ConnectorConfig(port));
    env_ = std::make_unique<ScopedEnv>("ZENOH_CONFIG", connector_->path());
  }
  static void TearDownTestSuite() {
    env_.reset();
    connector_.reset();
    simulator_.reset();
  }

  // Hosts a robot of the running test's own; its serial number begins with the model's name.
  sim::RobotHost& Host(vyr::ProductModel model = vyr::ProductModel::Olvar_L,
                       unsigned ext_axes = 0) {
    std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    for (auto& c : name) {
      if (c == '/' || c == '_') c = 'x';
    }
    serial_ = vyr::kProductModelNames.at(model) + "-" + name;
    return simulator_->AddRobot(model, serial_, ext_axes);
  }
  void TearDown() override {
    if (!serial_.empty()) simulator_->RemoveRobot(serial_);
  }

  static inline std::unique_ptr<sim::Simulator> simulator_;
  static inline std::unique_ptr<TempFile> connector_;
  static inline std::unique_ptr<ScopedEnv> env_;
  std::string serial_;
};

}  // namespace korvo::test
