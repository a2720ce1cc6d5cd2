# Our Rust crate over the zenoh crate, built by cargo and linked statically.
set(KORVO_BRIDGE_DIR ${PROJECT_SOURCE_DIR}/src/middleware/bridge)
set(KORVO_CARGO_TARGET_DIR ${CMAKE_BINARY_DIR}/cargo CACHE PATH "cargo target directory")
set(KORVO_BRIDGE_LIB ${KORVO_CARGO_TARGET_DIR}/release/libkorvo_zenoh_bridge.a)

find_program(CARGO cargo HINTS $ENV{HOME}/.cargo/bin REQUIRED)
file(GLOB_RECURSE KORVO_BRIDGE_RS CONFIGURE_DEPENDS ${KORVO_BRIDGE_DIR}/src/*.rs
     ${KORVO_BRIDGE_DIR}/vendor/*.rs ${KORVO_BRIDGE_DIR}/vendor/*/Cargo.toml)

add_custom_command(
  OUTPUT ${KORVO_BRIDGE_LIB}
  COMMAND ${CARGO} build --release --locked
          --manifest-path ${KORVO_BRIDGE_DIR}/Cargo.toml --target-dir ${KORVO_CARGO_TARGET_DIR}
  DEPENDS ${KORVO_BRIDGE_RS} ${KORVO_BRIDGE_DIR}/Cargo.toml ${KORVO_BRIDGE_DIR}/Cargo.lock
  USES_TERMINAL
  COMMENT "Building the zenoh bridge crate with cargo")
if(KORVO_SANITIZE STREQUAL "thread")
  # ThreadSanitizer leaves alone the C library calls (memcpy, free, recv, ...) of uninstrumented
  # code only when that code is a module of its own (tests/sanitizers/tsan.supp,
  # called_from_lib): the same archive, linked whole into a shared library.
  set(KORVO_BRIDGE_LINKED ${CMAKE_BINARY_DIR}/libkorvo_zenoh_bridge.so)
  add_custom_command(
    OUTPUT ${KORVO_BRIDGE_LINKED}
    COMMAND ${CMAKE_CXX_COMPILER} -shared -o ${KORVO_BRIDGE_LINKED} -Wl,--whole-archive
            ${KORVO_BRIDGE_LIB} -Wl,--no-whole-archive -lpthread -ldl -lm
    DEPENDS ${KORVO_BRIDGE_LIB}
    COMMENT "Linking the zenoh bridge as a shared library for ThreadSanitizer")
else()
  set(KORVO_BRIDGE_LINKED ${KORVO_BRIDGE_LIB})
endif()
add_custom_target(korvo_zenoh_bridge_build DEPENDS ${KORVO_BRIDGE_LINKED})

add_library(korvo_zenoh_bridge INTERFACE)
add_library(korvo::zenoh_bridge ALIAS korvo_zenoh_bridge)
add_dependencies(korvo_zenoh_bridge korvo_zenoh_bridge_build)
target_include_directories(korvo_zenoh_bridge INTERFACE ${KORVO_BRIDGE_DIR}/include)
target_link_libraries(korvo_zenoh_bridge INTERFACE ${KORVO_BRIDGE_LINKED} Threads::Threads
                      ${CMAKE_DL_LIBS} m)
