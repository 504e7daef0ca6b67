file(REMOVE_RECURSE
  "CMakeFiles/test_support.dir/support/support.cpp.obj"
  "CMakeFiles/test_support.dir/support/support.cpp.obj.d"
  "libtest_support.a"
  "libtest_support.pdb"
)

# Per-language clean rules from dependency scanning.
foreach(lang CXX)
  include(CMakeFiles/test_support.dir/cmake_clean_${lang}.cmake OPTIONAL)
endforeach()
