// A test suite with one simulator on a free loopback port; the clients that the tests create
// connect to it through ZENOH_CONFIG.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "eventually.hpp"
#include "korvo/vyr/name_tables.hpp"
#include "loopback.hpp"
#include "sim/simulator.hpp"

namespace korvo::test {

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
