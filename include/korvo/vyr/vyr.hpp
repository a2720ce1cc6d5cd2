// Everything a user of the Korvo VYR client library needs, in one include.
#pragma once

#include "korvo/vyr/constants.hpp"
#include "korvo/vyr/data.hpp"
#include "korvo/vyr/device.hpp"
#include "korvo/vyr/enums.hpp"
#include "korvo/vyr/file_io.hpp"
#include "korvo/vyr/gripper.hpp"
#include "korvo/vyr/maintenance.hpp"
#include "korvo/vyr/model.hpp"
#include "korvo/vyr/name_tables.hpp"
#include "korvo/vyr/robot.hpp"
#include "korvo/vyr/safety.hpp"
#include "korvo/vyr/tool.hpp"
#include "korvo/vyr/work_coord.hpp"
