# Strict warnings for the project's own targets only; third-party headers come in as system includes.
function(morvane_target_warnings target)
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wno-sign-conversion
                                             -Wnon-virtual-dtor -Wold-style-cast -Werror)
    if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
        # GCC 12 reports std::string concatenations inlined at -O3 as overlapping memcpy calls (GCC bug 105651).
        target_compile_options(${target} PRIVATE -Wno-restrict)
    endif()
endfunction()
