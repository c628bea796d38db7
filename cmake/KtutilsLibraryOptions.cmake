# ktutils_library_options(<target>)
# Code generation shared by the project's own libraries. With
# -fno-semantic-interposition a call from one function of a library to
# another exported one goes straight to it (and may be inlined) instead of
# through the PLT: nothing is meant to interpose on these symbols, and the
# buffer's typed writes call their append helper tens of times per message.
function(ktutils_library_options target)
  if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
    target_compile_options(${target} PRIVATE -fno-semantic-interposition)
  endif()
endfunction()
