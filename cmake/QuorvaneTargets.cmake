# Shared settings for the project's own targets.

# The repository root is the include root: sources say "platform/win32.h",
# "quorvane/support/trace.h".
add_library(quorvane_includes INTERFACE)
target_include_directories(quorvane_includes INTERFACE "${PROJECT_SOURCE_DIR}")

# Warnings are errors for our code (never for third-party code such as GoogleTest).
function(quorvane_warnings target)
  if(MSVC)
    target_compile_options(${target} PRIVATE /W4 /WX)
  else()
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wconversion
                                             -Wno-sign-conversion -Werror)
  endif()
endfunction()
