# Helpers shared by every folder of the build.

# cv_module(Name DEPS dep...): the engine module engine/<Name>/ as the static
# library cv_<Name>, made of every .cpp in its folder. Public headers are
# included as "Name/header.h" from the engine folder.
function(cv_module name)
  cmake_parse_arguments(M "" "" "DEPS" ${ARGN})
  file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  add_library(cv_${name} STATIC ${srcs})
  target_include_directories(cv_${name} PUBLIC ${PROJECT_SOURCE_DIR}/engine)
  target_link_libraries(cv_${name} PUBLIC ${M_DEPS})
  set_property(GLOBAL APPEND PROPERTY CV_ENGINE_MODULES cv_${name})
endfunction()

# cv_unit_test(name LIBS lib...): a GoogleTest program test_<name> made of every
# .cpp in the calling folder, registered with CTest. Tests run with the
# tests' data folder as CV_TEST_DATA and the build's bin folder as CV_BIN_DIR,
# and with CV_NO_LOGO=1 so that opening a driver does not play the start-up logo.
function(cv_unit_test name)
  cmake_parse_arguments(T "" "" "LIBS" ${ARGN})
  file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  add_executable(test_${name} ${srcs})
  target_link_libraries(test_${name} PRIVATE ${T_LIBS} cv_testsupport GTest::gtest GTest::gtest_main)
  add_test(NAME ${name} COMMAND test_${name})
  set_tests_properties(${name} PROPERTIES
    ENVIRONMENT "CV_BIN_DIR=${PROJECT_BINARY_DIR}/bin;CV_SOURCE_DIR=${PROJECT_SOURCE_DIR};CV_NO_LOGO=1"
    WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
endfunction()
