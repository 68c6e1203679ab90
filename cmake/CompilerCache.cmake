# Compile through ccache where it is installed. Paths are made relative to the source tree so
# that checkouts in other folders (CI's fresh clone, work trees) share the cached objects.
option(QN_CCACHE "Compile through ccache when it is installed" ON)
find_program(QN_CCACHE_PROGRAM ccache)
if(QN_CCACHE AND QN_CCACHE_PROGRAM)
  # The fuzz build's coverage list is an input of every object, unseen by ccache otherwise.
  set(extra "")
  if(QN_FUZZ)
    set(extra CCACHE_EXTRAFILES=${CMAKE_SOURCE_DIR}/cmake/fuzz-coverage-ignore.txt)
  endif()
  set(launcher ${CMAKE_COMMAND} -E env CCACHE_BASEDIR=${CMAKE_SOURCE_DIR} CCACHE_NOHASHDIR=true
      CCACHE_SLOPPINESS=pch_defines,time_macros ${extra} ${QN_CCACHE_PROGRAM})
  set(CMAKE_C_COMPILER_LAUNCHER ${launcher})
  set(CMAKE_CXX_COMPILER_LAUNCHER ${launcher})
endif()
