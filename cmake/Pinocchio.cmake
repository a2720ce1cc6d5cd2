# Pinocchio, header-only, from the pinned libpinocchio wheel installed into the virtual
# environment (or, for pip install, into its build environment). Nothing of the wheel is linked: no template instantiation library, no URDF or
# collision support, Eigen and Boost headers from the system.
if(NOT KORVO_PINOCCHIO_INCLUDE_DIR AND Python_EXECUTABLE)
  # The first folder of the interpreter's path that holds the wheel's headers: site-packages,
  # or the overlay of pip's isolated build environment.
  execute_process(
    COMMAND ${Python_EXECUTABLE} -c
            "import os, sys; print(next((p for p in sys.path if os.path.isfile(os.path.join(p, 'cmeel.prefix', 'include', 'pinocchio', 'fwd.hpp'))), ''))"
    OUTPUT_VARIABLE _korvo_purelib OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(EXISTS "${_korvo_purelib}/cmeel.prefix/include/pinocchio/fwd.hpp")
    # Only Pinocchio's own headers: where the wheel came with its dependencies (pip install's
    # build environment), their folder also holds Boost, tinyxml2 and zlib headers that must not
    # shadow the system's, whose libraries we link.
    set(KORVO_PINOCCHIO_INCLUDE_DIR ${CMAKE_BINARY_DIR}/pinocchio-include)
    file(MAKE_DIRECTORY ${KORVO_PINOCCHIO_INCLUDE_DIR})
    file(CREATE_LINK "${_korvo_purelib}/cmeel.prefix/include/pinocchio"
         ${KORVO_PINOCCHIO_INCLUDE_DIR}/pinocchio SYMBOLIC)
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
