// Maintenance against the simulated robot: the torque-sensor calibration's input checks and their
// order, the sequence of requests of a calibration, and the ways it ends early: a fault or an
// E-stop during the motion or the calibration, a lost link and a refused save.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <future>
#include <limits>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "case_name.hpp"
#include "korvo/vyr/maintenance.hpp"
#include "korvo/vyr/robot.hpp"
#include "outcome.hpp"
#include "sim_suite.hpp"

namespace korvo::vyr {
namespace {

using namespace std::chrono_literals;
using test::Eventually;
using test::Invalid;
using test::Logic;
using test::Outcome;
using test::OutcomeOf;
using test::Runtime;

constexpr char kPrefix[] = "[korvo::vyr::Maintenance::CalibrateJointTorqueSensors] ";
constexpr char kCalibration[] = "caliJointStaticTorqueChannelOffset";
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

std::string Message(const std::string& text) { return kPrefix + text; }

class MaintenanceTest : public test::SimulatorSuite {
 protected:
  // A ready robot in IDLE with a Maintenance of its own; the robot's calibration takes a tenth
  // of its time.
  void Start(ProductModel model = ProductModel::Olvar_L) {
    host_ = &Host(model);
    sim().MakeReady();
    sim().SetTorqueCalibrationTimeScale(0.1);
    robot_ = std::make_unique<Robot>(serial_, false);
    ASSERT_TRUE(Eventually([&] { return robot_->operational(); }));
    maintenance_ = std::make_unique<Maintenance>(*robot_);
    host_->ClearRecords();
  }
  void TearDown() override {
    maintenance_.reset();
    robot_.reset();
    SimulatorSuite::TearDown();
  }
  Outcome Calibrate(JointGroup group, const std::vector<double>& posture = {}) {
    return OutcomeOf([&] { maintenance_->CalibrateJointTorqueSensors(group, posture); });
  }
  std::vector<std::uint16_t> OpCodes() const { return test::VyrOpCodesOf(*host_); }
  std::vector<std::string> Primitives() const {
    std::vector<std::string> texts;
    for (const auto& r : test::VyrRequestsOf(*host_, 21)) {
      texts.insert(texts.end(), r.string_container.begin(), r.string_container.end());
    }
    return texts;
  }
  sim::SimRobot& sim() { return host_->robot(); }

  sim::RobotHost* host_ = nullptr;
  std::unique_ptr<Robot> robot_;
  std::unique_ptr<Maintenance> maintenance_;
};

TEST_F(MaintenanceTest, InputsAreCheckedInOrderBeforeTheRobotIsTouched) {
  Start(ProductModel::Olvar_LL);
  const auto q_max = robot_->info().q_max.at(JointGroup::ARM_2);
  const auto q_min = robot_->info().q_min.at(JointGroup::ARM_2);
  auto above = q_max;
  above[3] += 1e-3;
  auto below = q_min;
  below[0] -= 1e-3;
  auto nan = q_max;
  nan[6] = kNaN;
  const auto range =
      Invalid(Message("Input parameter [cali_posture] contains value outside the "
                      "valid range"));
  struct Case {
    JointGroup group;
    std::vector<double> posture;
    Outcome outcome;
  };
  const std::vector<Case> cases = {
      {JointGroup::ARMS,
       {},
       Invalid(Message("The specified joint group [ARMS] is not an existing "
                       "single-arm joint group in the connected robot"))},
      {static_cast<JointGroup>(42),
       {1.0},
       Invalid(Message("The specified joint group [UNKNOWN] is not an existing single-arm joint "
                       "group in the connected robot"))},
      {JointGroup::ARM_2, std::vector<double>(6, 0.0),
       Invalid(Message("Size of input vector [cali_posture] does not match robot DoF"))},
      {JointGroup::ARM_2, std::vector<double>(8, 0.0),
       Invalid(Message("Size of input vector [cali_posture] does not match robot DoF"))},
      {JointGroup::ARM_2, above, range},
      {JointGroup::ARM_2, below, range},
      {JointGroup::ARM_2, nan, range},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Calibrate(c.group, c.posture), c.outcome);
  }
  EXPECT_TRUE(host_->vyr_requests().empty());

  // Outside IDLE the mode is the first complaint about a valid group, whatever the posture.
  robot_->SwitchMode(Mode::NRT_PRIMITIVE_EXECUTION);
  host_->ClearRecords();
  EXPECT_EQ(Calibrate(JointGroup::ARM_1, {1.0}), Logic(Message("Robot is not in IDLE mode")));
  EXPECT_TRUE(host_->vyr_requests().empty());
}

TEST_F(MaintenanceTest, ALiteInstanceCannotFollowACalibration) {
  Start();
  Robot lite(serial_, false, true);
  Maintenance maintenance(lite);
  host_->ClearRecords();
  EXPECT_EQ(OutcomeOf([&] { maintenance.CalibrateJointTorqueSensors(JointGroup::ARM_1); }),
            Logic(Message("Torque sensor calibration is not available on a lite instance")));
  EXPECT_TRUE(host_->vyr_requests().empty());
}

TEST_F(MaintenanceTest, AnArmOfOtherThanSevenJointsIsRefusedBeforeTheRobotMoves) {
  // A robot reporting an arm of 8 joints (its external axis counted in): the posture would not
  // fit the 7 arm positions of the motion's target.
  host_ = &Host(ProductModel::Olvar_L, 1);
  sim().MakeReady();
  sim().ReportGroupDoF(JointGroup::ARM_1, 8);
  robot_ = std::make_unique<Robot>(serial_, false);
  ASSERT_TRUE(Eventually([&] { return robot_->operational(); }));
  maintenance_ = std::make_unique<Maintenance>(*robot_);
  host_->ClearRecords();
  const auto unsupported =
      Logic(Message("Calibration of joint group [ARM_1] with 8 joints is not "
                    "supported: the calibration posture holds 7"));
  EXPECT_EQ(Calibrate(JointGroup::ARM_1), unsupported);
  EXPECT_EQ(Calibrate(JointGroup::ARM_1, std::vector<double>(8, 0.0)), unsupported);
  EXPECT_EQ(Calibrate(JointGroup::ARM_1, std::vector<double>(7, 0.0)),
            Invalid(Message("Size of input vector [cali_posture] does not match robot DoF")));
  EXPECT_TRUE(host_->vyr_requests().empty());
}

TEST_F(MaintenanceTest, CalibratesInTheUprightPostureSavesAndReturnsToIdle) {
  Start();
  EXPECT_EQ(Calibrate(JointGroup::ARM_1), Outcome{});
  EXPECT_EQ(sim().torque_calibrations_saved(), 1u);
  EXPECT_EQ(robot_->mode(), Mode::IDLE);
  const auto q = sim().q();
  for (unsigned j = 0; j < 7; ++j) EXPECT_NEAR(q[j], 0.0, 1e-3) << j;

  const auto primitives = Primitives();
  ASSERT_EQ(primitives.size(), 2u);
  EXPECT_EQ(primitives[0], "MoveJ(target = 0 0 0 0 0 0 0 0 0 0 0 0 0 )");
  EXPECT_EQ(primitives[1], std::string(kCalibration) + "(waitTime = 5)");
  const auto moves = test::VyrRequestsOf(*host_, 21);
  EXPECT_EQ(moves[0].bool_container, std::vector<bool>{true});
  EXPECT_EQ(moves[0].int_container, std::vector<std::int32_t>{0});  // DISABLE
  // The save comes after both primitives, and the robot is left in IDLE.
  const auto codes = OpCodes();
  const auto save = std::find(codes.begin(), codes.end(), 110);
  ASSERT_NE(save, codes.end());
  EXPECT_EQ(std::count(codes.begin(), codes.end(), 110), 1);
  EXPECT_EQ(test::VyrRequestsOf(*host_, 110)[0].float_container.size(), 0u);
  EXPECT_EQ(std::count(save, codes.end(), 21), 0);
}

TEST_F(MaintenanceTest, AGivenPostureTravelsInDegrees) {
  Start(ProductModel::Olvar_LL);
  const auto q_max = robot_->info().q_max.at(JointGroup::ARM_2);
  std::vector<double> posture(7, 0.0);
  posture[0] = 3.141592653589793 / 2;
  posture[1] = q_max[1];  // the limit itself is a valid posture
  EXPECT_EQ(Calibrate(JointGroup::ARM_2, posture), Outcome{});
  const auto moves = test::VyrRequestsOf(*host_, 21);
  ASSERT_EQ(moves.size(), 2u);
  EXPECT_EQ(moves[0].joint_groups,
            std::vector<std::uint16_t>{static_cast<std::uint16_t>(JointGroup::ARM_2)});
  EXPECT_EQ(moves[0].string_container[0].rfind("MoveJ(target = 90 ", 0), 0u)
      << moves[0].string_container[0];
  EXPECT_EQ(sim().torque_calibrations_saved(), 1u);
}

// A calibration cut short never saves and leaves the robot where it stopped.
struct Interruption {
  const char* name;
  const char* primitive;
  sim::Interruption kind;
  const char* message;
};

using test::PrintTo;

class MaintenanceInterruptionTest : public MaintenanceTest,
                                    public ::testing::WithParamInterface<Interruption> {};

TEST_P(MaintenanceInterruptionTest, EndsWithAnErrorAndNothingSaved) {
  Start();
  const auto& c = GetParam();
  // A motion that never arrives ends only through the interruption.
  if (std::string(c.primitive) == "MoveJ") sim().StallMotion(true);
  sim().InterruptNextPrimitive(c.primitive, 0.3, c.kind);
  EXPECT_EQ(Calibrate(JointGroup::ARM_1), Runtime(Message(c.message)));
  EXPECT_TRUE(test::VyrRequestsOf(*host_, 110).empty());
  EXPECT_EQ(sim().torque_calibrations_saved(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MaintenanceInterruptionTest,
    ::testing::Values(
        Interruption{"FaultDuringTheMotion", "MoveJ", sim::Interruption::kFault,
                     "Fault occurred during the calibration"},
        Interruption{"EstopDuringTheMotion", "MoveJ", sim::Interruption::kEstop,
                     "The calibration was interrupted: Robot is not operational: E-Stop not "
                     "released"},
        Interruption{"FaultDuringTheCalibration", kCalibration, sim::Interruption::kFault,
                     "Fault occurred during the calibration"},
        Interruption{"EstopDuringTheCalibration", kCalibration, sim::Interruption::kEstop,
                     "The calibration was interrupted: Robot is not operational: E-Stop not "
                     "released"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(MaintenanceTest, AReachedTargetStateThatIsNoIntegerEndsTheWaitWithOurMessage) {
  Start();
  sim().ReportReachedTargetAs("yes");
  EXPECT_EQ(Calibrate(JointGroup::ARM_1),
            Runtime(Message("Primitive state [reachedTarget] does not hold an integer")));
  EXPECT_EQ(sim().torque_calibrations_saved(), 0u);
}

TEST_F(MaintenanceTest, ALostLinkEndsTheWait) {
  Start();
  sim().StallMotion(true);
  auto calibration = std::async(std::launch::async, [&] { return Calibrate(JointGroup::ARM_1); });
  ASSERT_TRUE(Eventually([&] { return !test::VyrRequestsOf(*host_, 21).empty(); }));
  simulator_->RemoveRobot(serial_);
  EXPECT_EQ(calibration.get(),
            Runtime(Message("Lost the connection to the robot during the calibration")));
}

TEST_F(MaintenanceTest, ARefusedSaveIsReportedAndTheModeKept) {
  Start();
  host_->SetReplyRule(sim::Server::kVyr, 110, {sim::ReplyAction::kRefuse});
  EXPECT_EQ(Calibrate(JointGroup::ARM_1),
            Runtime(Message("Failed to save the calibration result")));
  EXPECT_EQ(robot_->mode(), Mode::NRT_PRIMITIVE_EXECUTION);
}

}  // namespace
}  // namespace korvo::vyr
