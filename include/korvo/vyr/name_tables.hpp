// Texts of the enumerators, used wherever a message names a product model, joint group,
// operational status or control mode. Ordered maps: iteration runs in ascending enumerator value.
#pragma once

#include <map>
#include <string>

#include "korvo/vyr/enums.hpp"

namespace korvo::vyr {

/** Product model names; they are also the prefixes of robot serial numbers. */
inline const std::map<ProductModel, std::string> kProductModelNames = {
    {ProductModel::UNKNOWN, "UNKNOWN"},     {ProductModel::Olvar_L, "Olvar-L"},
    {ProductModel::Olvar_LL, "Olvar-LL"},   {ProductModel::TAVU_Core, "TAVU-Core"},
    {ProductModel::TAVU_Plus, "TAVU-Plus"}, {ProductModel::TAVU_Ultra, "TAVU-Ultra"},
};

/** Joint group names. */
inline const std::map<JointGroup, std::string> kJointGroupNames = {
    {JointGroup::UNKNOWN, "UNKNOWN"}, {JointGroup::ALL, "ALL"},
    {JointGroup::ARMS, "ARMS"},       {JointGroup::ARM_1, "ARM_1"},
    {JointGroup::ARM_2, "ARM_2"},     {JointGroup::EXT_AXIS, "EXT_AXIS"},
};

/** Short texts of the operational statuses. */
inline const std::map<OperationalStatus, std::string> kOpStatusNames = {
    {OperationalStatus::UNKNOWN, "Unknown status"},
    {OperationalStatus::READY, "Ready"},
    {OperationalStatus::BOOTING, "System booting"},
    {OperationalStatus::ESTOP_NOT_RELEASED, "E-Stop not released"},
    {OperationalStatus::NOT_SERVO_ON, "Not servo on"},
    {OperationalStatus::RELEASING_BRAKE, "Releasing brakes"},
    {OperationalStatus::MINOR_FAULT, "Minor fault occurred"},
    {OperationalStatus::CRITICAL_FAULT, "Critical fault occurred"},
    {OperationalStatus::IN_REDUCED_STATE, "In reduced state"},
    {OperationalStatus::IN_RECOVERY_STATE, "In recovery state"},
    {OperationalStatus::IN_MANUAL_MODE, "In Manual mode"},
    {OperationalStatus::IN_AUTO_MODE, "In regular Auto mode"},
};

/** Control mode names. */
inline const std::map<Mode, std::string> kModeNames = {
    {Mode::UNKNOWN, "UNKNOWN"},
    {Mode::IDLE, "IDLE"},
    {Mode::RT_JOINT_TORQUE, "RT_JOINT_TORQUE"},
    {Mode::RT_JOINT_IMPEDANCE, "RT_JOINT_IMPEDANCE"},
    {Mode::NRT_JOINT_IMPEDANCE, "NRT_JOINT_IMPEDANCE"},
    {Mode::RT_JOINT_POSITION, "RT_JOINT_POSITION"},
    {Mode::NRT_JOINT_POSITION, "NRT_JOINT_POSITION"},
    {Mode::NRT_PLAN_EXECUTION, "NRT_PLAN_EXECUTION"},
    {Mode::NRT_PRIMITIVE_EXECUTION, "NRT_PRIMITIVE_EXECUTION"},
    {Mode::RT_CARTESIAN_MOTION_FORCE, "RT_CARTESIAN_MOTION_FORCE"},
    {Mode::NRT_CARTESIAN_MOTION_FORCE, "NRT_CARTESIAN_MOTION_FORCE"},
    {Mode::NRT_SUPER_PRIMITIVE, "NRT_SUPER_PRIMITIVE"},
};

}  // namespace korvo::vyr
