# Strips the programs of the package folder and keeps their symbols beside the build:
#   cmake -DOBJCOPY=<objcopy> -DPACKAGE_DIR=<folder> -DSYMBOLS_DIR=<folder> -P strip_package.cmake
# Each <name>.exe / <name>.cpl keeps its symbols and debug sections in SYMBOLS_DIR/<name>.debug
# (objcopy --only-keep-debug); the packaged copy loses them (--strip-all: exports and base
# relocations stay) and names that file with its CRC (--add-gnu-debuglink), so that a debugger
# given the symbols folder finds them. The programs of the build tree stay as they were.
file(MAKE_DIRECTORY ${SYMBOLS_DIR})
file(GLOB programs ${PACKAGE_DIR}/*.exe ${PACKAGE_DIR}/*.cpl)
foreach(program ${programs})
  get_filename_component(name ${program} NAME)
  set(symbols ${SYMBOLS_DIR}/${name}.debug)
  execute_process(COMMAND ${OBJCOPY} --only-keep-debug ${program} ${symbols} COMMAND_ERROR_IS_FATAL ANY)
  execute_process(COMMAND ${OBJCOPY} --strip-all --add-gnu-debuglink=${symbols} ${program} COMMAND_ERROR_IS_FATAL ANY)
endforeach()
