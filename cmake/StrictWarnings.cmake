# sonvelt_strict_warnings(target...)
# The engine's libraries (no Qt) build with the conversion and shadowing
# warnings on; with SONVELT_WERROR every warning of theirs stops the build.
# The options are PRIVATE: code that includes their headers is not affected.
option(SONVELT_WERROR "Treat warnings in the engine's libraries as errors" OFF)

function(sonvelt_strict_warnings)
  foreach(target ${ARGN})
    target_compile_options(${target} PRIVATE -Wshadow -Wconversion -Wsign-conversion)
    if(SONVELT_WERROR)
      target_compile_options(${target} PRIVATE -Werror)
    endif()
  endforeach()
endfunction()
