# KORVO_SANITIZE builds every C and C++ target of the tree with a sanitizer:
#   address  AddressSanitizer (with LeakSanitizer) and UndefinedBehaviorSanitizer, every
#            undefined-behaviour report fatal
#   thread   ThreadSanitizer
# The zenoh bridge is Rust built by cargo and stays uninstrumented; the run-time options and the
# suppression files for its frames are in tests/sanitizers and the Makefile's sanitize and tsan
# targets.
set(KORVO_SANITIZE "" CACHE STRING "Sanitizer build: empty, address (ASan and UBSan) or thread")
set_property(CACHE KORVO_SANITIZE PROPERTY STRINGS "" address thread)

if(KORVO_SANITIZE STREQUAL "address")
  set(KORVO_SANITIZE_FLAGS -fsanitize=address,undefined -fno-sanitize-recover=undefined)
elseif(KORVO_SANITIZE STREQUAL "thread")
  set(KORVO_SANITIZE_FLAGS -fsanitize=thread)
elseif(NOT KORVO_SANITIZE STREQUAL "")
  message(FATAL_ERROR "KORVO_SANITIZE is '${KORVO_SANITIZE}': use address, thread or nothing")
endif()

if(KORVO_SANITIZE_FLAGS)
  list(APPEND KORVO_SANITIZE_FLAGS -fno-omit-frame-pointer)
  add_compile_options(${KORVO_SANITIZE_FLAGS})
  add_link_options(${KORVO_SANITIZE_FLAGS})
  # GCC's -Wmaybe-uninitialized misfires on instrumented code (inside libstdc++'s <regex> here);
  # the normal build keeps the warning.
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    add_compile_options(-Wno-maybe-uninitialized)
  endif()
  message(STATUS "Sanitizer build: ${KORVO_SANITIZE_FLAGS}")
endif()
