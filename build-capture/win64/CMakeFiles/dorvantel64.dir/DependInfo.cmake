
# Consider dependencies only in project.
set(CMAKE_DEPENDS_IN_PROJECT_ONLY OFF)

# The set of languages for which implicit dependencies are needed:
set(CMAKE_DEPENDS_LANGUAGES
  "RC"
  )
# The set of files for implicit dependencies of each language:
set(CMAKE_DEPENDS_CHECK_RC
  "/work/main/module/version.rc" "/work/main/build-capture/win64/CMakeFiles/dorvantel64.dir/module/version.rc.res"
  )

# Preprocessor definitions for this target.
set(CMAKE_TARGET_DEFINITIONS_RC
  "NOMINMAX"
  "UNICODE"
  "WIN32_LEAN_AND_MEAN"
  "_UNICODE"
  "_WIN32_WINNT=0x0601"
  "dorvantel64_EXPORTS"
  )

# The include file search paths:
set(CMAKE_RC_TARGET_INCLUDE_PATH
  "/work/main"
  )

# The set of dependency files which are needed:
set(CMAKE_DEPENDS_DEPENDENCY_FILES
  "/work/main/module/module.cpp" "CMakeFiles/dorvantel64.dir/module/module.cpp.obj" "gcc" "CMakeFiles/dorvantel64.dir/module/module.cpp.obj.d"
  )

# Targets to which this target links.
set(CMAKE_TARGET_LINKED_INFO_FILES
  "/work/main/build-capture/win64/CMakeFiles/dorvantel_core.dir/DependInfo.cmake"
  )

# Fortran module output directory.
set(CMAKE_Fortran_TARGET_MODULE_DIR "")
