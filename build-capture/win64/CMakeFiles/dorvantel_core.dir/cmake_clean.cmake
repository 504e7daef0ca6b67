file(REMOVE_RECURSE
  "CMakeFiles/dorvantel_core.dir/format/media_type.cpp.obj"
  "CMakeFiles/dorvantel_core.dir/format/media_type.cpp.obj.d"
  "CMakeFiles/dorvantel_core.dir/framework/unknown.cpp.obj"
  "CMakeFiles/dorvantel_core.dir/framework/unknown.cpp.obj.d"
  "libdorvantel_core.a"
  "libdorvantel_core.pdb"
)

# Per-language clean rules from dependency scanning.
foreach(lang CXX)
  include(CMakeFiles/dorvantel_core.dir/cmake_clean_${lang}.cmake OPTIONAL)
endforeach()
