# Warnings and sanitizers as interface targets: a target opts in by linking them.
add_library(orv_options INTERFACE)
target_compile_options(orv_options INTERFACE -Wall -Wextra -Wpedantic -Wconversion -Wshadow -Wno-sign-conversion)
target_compile_definitions(orv_options INTERFACE _GLIBCXX_ASSERTIONS)
if(ORV_WERROR)
    target_compile_options(orv_options INTERFACE -Werror)
endif()

if(ORV_SANITIZE)
    add_compile_options(-fsanitize=${ORV_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
    add_link_options(-fsanitize=${ORV_SANITIZE})
endif()

if(ORV_FUZZ)
    if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
        message(FATAL_ERROR "ORV_FUZZ needs clang (CXX=clang++)")
    endif()
    add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all)
    add_link_options(-fsanitize=address,undefined)
endif()

# A Qt-free core library: a Qt include inside it fails to build, because nothing puts Qt on its
# include path and it links no Qt target.
function(orv_core_library name)
    add_library(${name} STATIC ${ARGN})
    target_link_libraries(${name} PRIVATE orv_options)
    # Every include names its header by the path from the project root ("ntfs/BootSector.h"), so
    # each include line shows the layer it reaches into.
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
endfunction()
