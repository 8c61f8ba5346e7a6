# How the project's own targets are built, and what each library lets others include.

# kt_build_options: the warnings and definitions every program and library of this project is
# compiled with, and the sanitizers with KT_SANITIZE. kt_apply_build_options() links it to the
# project's own targets only, so code from elsewhere (GoogleTest built from source for the
# cross build) is compiled with its own flags.
add_library(kt_build_options INTERFACE)
if(MSVC)
    target_compile_options(kt_build_options INTERFACE /W4 /permissive-)
else()
    target_compile_options(kt_build_options INTERFACE -Wall -Wextra -Wpedantic -Wshadow)
endif()
target_compile_definitions(kt_build_options INTERFACE QT_NO_FOREACH)
if(WIN32)
    # windows.h's min and max macros would break std::min and std::max.
    target_compile_definitions(kt_build_options INTERFACE NOMINMAX)
endif()
if(MINGW)
    # Self-contained programs: no MinGW runtime DLLs to find beside them (or under Wine).
    target_link_options(kt_build_options INTERFACE -static)
endif()
if(KT_SANITIZE)
    target_compile_options(kt_build_options INTERFACE
        -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
    target_link_options(kt_build_options INTERFACE -fsanitize=address,undefined)
endif()

# Links kt_build_options to every library and program defined under DIR and its
# subdirectories that lie inside the source tree.
function(kt_apply_build_options dir)
    get_property(targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
    foreach(target ${targets})
        get_target_property(type ${target} TYPE)
        if(type MATCHES "^(STATIC_LIBRARY|SHARED_LIBRARY|MODULE_LIBRARY|OBJECT_LIBRARY|EXECUTABLE)$")
            target_link_libraries(${target} PRIVATE kt_build_options)
        endif()
    endforeach()
    get_property(subdirs DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
    foreach(subdir ${subdirs})
        cmake_path(IS_PREFIX PROJECT_SOURCE_DIR "${subdir}" NORMALIZE inside)
        if(inside)
            kt_apply_build_options(${subdir})
        endif()
    endforeach()
endfunction()

# kt_public_headers(TARGET NAME FOLDER): TARGET's users include its headers as "NAME/...", from
# an include root in the build folder that holds FOLDER as NAME and nothing else. A library
# therefore reaches only the headers of the libraries it links: the link layer cannot include
# the window's headers, whatever the include line says.
function(kt_public_headers target name folder)
    set(root ${CMAKE_BINARY_DIR}/include/${name})
    if(NOT EXISTS ${root}/${name})
        file(MAKE_DIRECTORY ${root})
        file(CREATE_LINK ${folder} ${root}/${name} SYMBOLIC RESULT failed)
        if(failed)
            # No symbolic links (Windows without the right to make them): a copy, made again
            # whenever a header changes.
            file(COPY ${folder}/ DESTINATION ${root}/${name} FILES_MATCHING PATTERN "*.h")
        endif()
    endif()
    if(NOT IS_SYMLINK ${root}/${name})
        file(GLOB_RECURSE headers CONFIGURE_DEPENDS ${folder}/*.h)
        set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${headers})
        file(COPY ${folder}/ DESTINATION ${root}/${name} FILES_MATCHING PATTERN "*.h")
    endif()
    target_include_directories(${target} PUBLIC ${root})
endfunction()
