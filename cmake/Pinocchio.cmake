# Pinocchio, header-only, from the pinned libpinocchio wheel installed into the virtual
# environment. Nothing of the wheel is linked: no template instantiation library, no URDF or
# collision support, Eigen and Boost headers from the system.
if(NOT KORVO_PINOCCHIO_INCLUDE_DIR AND Python_EXECUTABLE)
  execute_process(
    COMMAND ${Python_EXECUTABLE} -c "import sysconfig; print(sysconfig.get_paths()['purelib'])"
    OUTPUT_VARIABLE _korvo_purelib OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(EXISTS "${_korvo_purelib}/cmeel.prefix/include/pinocchio/fwd.hpp")
    set(KORVO_PINOCCHIO_INCLUDE_DIR "${_korvo_purelib}/cmeel.prefix/include")
  endif()
endif()

if(KORVO_PINOCCHIO_INCLUDE_DIR)
  find_package(Boost 1.74 REQUIRED)
  add_library(korvo_pinocchio INTERFACE)
  add_library(korvo::pinocchio ALIAS korvo_pinocchio)
  # SYSTEM: Pinocchio's own warnings are not ours to fix.
  target_include_directories(korvo_pinocchio SYSTEM INTERFACE ${KORVO_PINOCCHIO_INCLUDE_DIR})
  target_link_libraries(korvo_pinocchio INTERFACE Eigen3::Eigen Boost::headers)
  message(STATUS "Pinocchio headers: ${KORVO_PINOCCHIO_INCLUDE_DIR}")
else()
  message(STATUS "Pinocchio headers not found: the model and its tests are not built")
endif()
