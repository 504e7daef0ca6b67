file(REMOVE_RECURSE
  "CMakeFiles/dorvantel64.dir/module/module.cpp.obj"
  "CMakeFiles/dorvantel64.dir/module/module.cpp.obj.d"
  "CMakeFiles/dorvantel64.dir/module/version.rc.res"
  "dorvantel64.dll"
  "dorvantel64.pdb"
  "libdorvantel64.dll.a"
)

# Per-language clean rules from dependency scanning.
foreach(lang CXX RC)
  include(CMakeFiles/dorvantel64.dir/cmake_clean_${lang}.cmake OPTIONAL)
endforeach()
