# speech_add_extension(<target> MODULE <name> PACKAGE_DIR <dir>
#                      SOURCES <files...> [LIBS <libs...>] [NO_TORCH])
#
# Builds a pybind11 extension module against torch and places it inside the
# Python package <dir> (relative to the repo root), so that the repo root on
# PYTHONPATH is all that is needed to import it. NO_TORCH: a module that
# never touches a tensor and so does not link torch.
#
# Link-time optimisation is CMake's own (-flto=auto), not pybind11's plain
# -flto: the link then runs its LTRANS jobs in parallel (make's jobserver, or
# one per processor) instead of one after another. As pybind11's, it is on
# for the optimised builds only.
function(speech_add_extension target)
  cmake_parse_arguments(ARG "NO_TORCH" "MODULE;PACKAGE_DIR" "SOURCES;LIBS" ${ARGN})
  # Defined, so pybind11 leaves link-time optimisation to the target's
  # properties below.
  set(CMAKE_INTERPROCEDURAL_OPTIMIZATION OFF)
  pybind11_add_module(${target} MODULE ${ARG_SOURCES})
  set_target_properties(${target} PROPERTIES
    OUTPUT_NAME ${ARG_MODULE}
    LIBRARY_OUTPUT_DIRECTORY ${PROJECT_SOURCE_DIR}/${ARG_PACKAGE_DIR}
    CXX_VISIBILITY_PRESET hidden
    INTERPROCEDURAL_OPTIMIZATION_RELEASE ON
    INTERPROCEDURAL_OPTIMIZATION_MINSIZEREL ON)
  target_compile_definitions(${target} PRIVATE SPEECH_MODULE_NAME=${ARG_MODULE})
  target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR}/csrc)
  target_link_libraries(${target} PRIVATE ${ARG_LIBS})
  if(NOT ARG_NO_TORCH)
    target_link_libraries(${target} PRIVATE ${TORCH_LIBRARIES} ${TORCH_PYTHON_LIBRARY})
  endif()
endfunction()

# speech_add_gtest(<target> SOURCES <files...> [LIBS <libs...>])
function(speech_add_gtest target)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${target} ${ARG_SOURCES})
  target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR}/csrc)
  target_link_libraries(${target} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gtest_main)
  gtest_discover_tests(${target} DISCOVERY_TIMEOUT 60)
endfunction()
include(GoogleTest)
