# Strict warnings for the project's own targets only; third-party headers come in as system includes.
function(morvane_target_warnings target)
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wno-sign-conversion
                                             -Wnon-virtual-dtor -Wold-style-cast -Werror)
endfunction()
