file(REMOVE_RECURSE
  "CMakeFiles/framework_tests.dir/framework/unknown_test.cpp.obj"
  "CMakeFiles/framework_tests.dir/framework/unknown_test.cpp.obj.d"
  "framework_tests.exe"
  "framework_tests.pdb"
  "libframework_tests.dll.a"
)

# Per-language clean rules from dependency scanning.
foreach(lang CXX)
  include(CMakeFiles/framework_tests.dir/cmake_clean_${lang}.cmake OPTIONAL)
endforeach()
