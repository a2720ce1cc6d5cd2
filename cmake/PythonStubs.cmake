# Type stubs of the Python modules, generated from the built modules by pybind11-stubgen:
# korvovyr.pyi and korvosim.pyi beside the modules in the build, and, in a wheel, the stub
# packages korvovyr-stubs and korvosim-stubs that type checkers find in site-packages.
set(KORVO_STUB_DIR ${CMAKE_BINARY_DIR}/python)
set(KORVO_STUBS ${KORVO_STUB_DIR}/korvovyr.pyi ${KORVO_STUB_DIR}/korvosim.pyi)
set(KORVO_STUB_SCRIPT ${PROJECT_SOURCE_DIR}/python/generate_stubs.py)
add_custom_command(
  OUTPUT ${KORVO_STUBS}
  COMMAND ${Python_EXECUTABLE} ${KORVO_STUB_SCRIPT} ${KORVO_STUB_DIR} korvovyr korvosim
  DEPENDS korvovyr_py korvosim_py ${KORVO_STUB_SCRIPT}
  COMMENT "Generating the type stubs of korvovyr and korvosim")
add_custom_target(korvo_python_stubs ALL DEPENDS ${KORVO_STUBS})

if(SKBUILD)
  foreach(module korvovyr korvosim)
    install(FILES ${KORVO_STUB_DIR}/${module}.pyi DESTINATION ${module}-stubs
            RENAME __init__.pyi)
    install(FILES ${PROJECT_SOURCE_DIR}/python/py.typed DESTINATION ${module}-stubs)
  endforeach()
endif()
