# Our Rust crate over the zenoh crate, built by cargo and linked statically.
set(KORVO_BRIDGE_DIR ${PROJECT_SOURCE_DIR}/src/middleware/bridge)
set(KORVO_CARGO_TARGET_DIR ${CMAKE_BINARY_DIR}/cargo CACHE PATH "cargo target directory")
set(KORVO_BRIDGE_LIB ${KORVO_CARGO_TARGET_DIR}/release/libkorvo_zenoh_bridge.a)

find_program(CARGO cargo HINTS $ENV{HOME}/.cargo/bin REQUIRED)
file(GLOB_RECURSE KORVO_BRIDGE_RS CONFIGURE_DEPENDS ${KORVO_BRIDGE_DIR}/src/*.rs)

add_custom_command(
  OUTPUT ${KORVO_BRIDGE_LIB}
  COMMAND ${CARGO} build --release --locked
          --manifest-path ${KORVO_BRIDGE_DIR}/Cargo.toml --target-dir ${KORVO_CARGO_TARGET_DIR}
  DEPENDS ${KORVO_BRIDGE_RS} ${KORVO_BRIDGE_DIR}/Cargo.toml ${KORVO_BRIDGE_DIR}/Cargo.lock
  USES_TERMINAL
  COMMENT "Building the zenoh bridge crate with cargo")
add_custom_target(korvo_zenoh_bridge_build DEPENDS ${KORVO_BRIDGE_LIB})

add_library(korvo_zenoh_bridge INTERFACE)
add_library(korvo::zenoh_bridge ALIAS korvo_zenoh_bridge)
add_dependencies(korvo_zenoh_bridge korvo_zenoh_bridge_build)
target_include_directories(korvo_zenoh_bridge INTERFACE ${KORVO_BRIDGE_DIR}/include)
target_link_libraries(korvo_zenoh_bridge INTERFACE ${KORVO_BRIDGE_LIB} Threads::Threads
                      ${CMAKE_DL_LIBS} m)
