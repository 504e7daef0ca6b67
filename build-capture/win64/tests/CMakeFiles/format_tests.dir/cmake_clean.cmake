file(REMOVE_RECURSE
  "CMakeFiles/format_tests.dir/format/media_type_test.cpp.obj"
  "CMakeFiles/format_tests.dir/format/media_type_test.cpp.obj.d"
  "format_tests.exe"
  "format_tests.pdb"
  "libformat_tests.dll.a"
)

# Per-language clean rules from dependency scanning.
foreach(lang CXX)
  include(CMakeFiles/format_tests.dir/cmake_clean_${lang}.cmake OPTIONAL)
endforeach()
