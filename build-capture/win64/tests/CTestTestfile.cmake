# CMake generated Testfile for 
# Source directory: /work/main/tests
# Build directory: /work/main/build-capture/win64/tests
# 
# This file includes the relevant testing commands required for 
# testing this directory and lists subdirectories to be tested as well.
add_test([=[format]=] "/work/main/scripts/wine-run" "/work/main/build-capture/win64/tests/format_tests.exe" "--gtest_color=no")
set_tests_properties([=[format]=] PROPERTIES  TIMEOUT "600" WORKING_DIRECTORY "/work/main/build-capture/win64" _BACKTRACE_TRIPLES "/work/main/tests/CMakeLists.txt;23;add_test;/work/main/tests/CMakeLists.txt;28;add_suite;/work/main/tests/CMakeLists.txt;0;")
add_test([=[framework]=] "/work/main/scripts/wine-run" "/work/main/build-capture/win64/tests/framework_tests.exe" "--gtest_color=no")
set_tests_properties([=[framework]=] PROPERTIES  TIMEOUT "600" WORKING_DIRECTORY "/work/main/build-capture/win64" _BACKTRACE_TRIPLES "/work/main/tests/CMakeLists.txt;23;add_test;/work/main/tests/CMakeLists.txt;28;add_suite;/work/main/tests/CMakeLists.txt;0;")
add_test([=[binary_layout]=] "/work/main/tests/module/check_binary.sh" "x86_64-w64-mingw32-objdump" "/work/main/build-capture/win64/dorvantel64.dll")
set_tests_properties([=[binary_layout]=] PROPERTIES  _BACKTRACE_TRIPLES "/work/main/tests/CMakeLists.txt;32;add_test;/work/main/tests/CMakeLists.txt;0;")
subdirs("../googletest")
