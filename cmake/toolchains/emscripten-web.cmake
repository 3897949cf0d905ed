# Build for a web page with Debian's emscripten (emcc 3.1.6): WebAssembly with threads on
# shared memory. Every object is compiled with -pthread, since a module whose memory is
# shared cannot link objects built without atomics.
include(/usr/share/emscripten/cmake/Modules/Platform/Emscripten.cmake)

set(CMAKE_C_FLAGS_INIT "-pthread")
set(CMAKE_CXX_FLAGS_INIT "-pthread")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-pthread")

# Programs that run at build time (the firmware generator) run under node. The generator
# links with -sWASM_ASYNC_COMPILATION=0, so its loader never calls fetch() on a file path.
find_program(TQ5_NODE_PROGRAM NAMES node nodejs)
if(TQ5_NODE_PROGRAM)
  set(CMAKE_CROSSCOMPILING_EMULATOR "${TQ5_NODE_PROGRAM}" CACHE FILEPATH "Runs wasm programs" FORCE)
endif()
