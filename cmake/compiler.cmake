# Warnings and sanitizers for every target of the project.
if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
  add_compile_options(-Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wno-sign-conversion
                      -Wnon-virtual-dtor -Wold-style-cast -Wcast-align -Wnull-dereference
                      -Wimplicit-fallthrough)
  # GCC 12 reports impossible overlaps inside std::string's inlined copies at
  # -O2 (its bug 105329): noise that would hide real warnings.
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
    add_compile_options(-Wno-restrict)
  endif()
  if(PICTROVE_WERROR)
    add_compile_options(-Werror)
  endif()
  # The standard library's checks in every debug build too: an index past a
  # vector's end or an empty optional read stops the test that did it.
  add_compile_definitions($<$<CONFIG:Debug>:_GLIBCXX_ASSERTIONS>)
  if(PICTROVE_SANITIZE)
    add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
    # The standard library's own checks: a span or vector index past its
    # size inside a larger buffer is nothing AddressSanitizer can see.
    add_compile_definitions(_GLIBCXX_ASSERTIONS)
    add_link_options(-fsanitize=address,undefined)
  endif()
  if(PICTROVE_TSAN)
    add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
    add_link_options(-fsanitize=thread)
  endif()
elseif(MSVC)
  add_compile_options(/W4 /permissive-)
  if(PICTROVE_WERROR)
    add_compile_options(/WX)
  endif()
endif()

# The C++ runtime linked in, for the command-line tool and the modules it
# loads: loading and binding the shared libstdc++ takes a listing of a large
# library as long as half of its own work, and a module that needed it would
# bring that cost back the first time it is loaded (with every symbol bound
# at once). Unwinding stays with the shared libgcc_s, so exceptions pass
# between binaries. Not under the sanitizers, whose runtimes replace parts of
# the shared one.
function(pictrove_own_cxx_runtime target)
  if(NOT WIN32 AND CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang" AND NOT PICTROVE_SANITIZE AND NOT PICTROVE_TSAN
     AND NOT PICTROVE_FUZZ)
    target_link_options(${target} PRIVATE -static-libstdc++)
  endif()
endfunction()

# Windows headers: wide ("W") calls by default, no min and max macros.
if(WIN32)
  add_compile_definitions(UNICODE _UNICODE NOMINMAX WIN32_LEAN_AND_MEAN)
endif()
