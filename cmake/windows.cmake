# Windows-side targets (configured with cmake/mingw-w64.cmake).
set(VST3_SDK_ROOT "/usr/share/juce/modules/juce_audio_processors/format_types/VST3_SDK"
    CACHE PATH "Root of the VST 3 SDK")
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}/bin")

# Interface headers and the few SDK sources the Windows side needs: FUnknown
# and the interface ids (core, VST, and the editor ids from sdk/viewiids.cpp,
# which the Debian subset does not define).
add_library(vst3interfaces STATIC
    "${VST3_SDK_ROOT}/pluginterfaces/base/funknown.cpp"
    "${VST3_SDK_ROOT}/pluginterfaces/base/coreiids.cpp"
    "${VST3_SDK_ROOT}/public.sdk/source/vst/vstinitiids.cpp"
    "${CMAKE_SOURCE_DIR}/sdk/viewiids.cpp")
target_include_directories(vst3interfaces SYSTEM PUBLIC "${VST3_SDK_ROOT}")
target_compile_definitions(vst3interfaces PUBLIC RELEASE=1)
target_compile_options(vst3interfaces PRIVATE -w)
target_link_libraries(vst3interfaces PUBLIC ole32)

# nlohmann-json is header-only: the Linux system's headers serve mingw too.
# The include folder holds nothing but a link to them, so that no other
# Linux header is found before mingw's own.
find_path(QM_NLOHMANN_JSON_ROOT nlohmann/json.hpp PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH REQUIRED)
set(_json_include "${CMAKE_BINARY_DIR}/nlohmann-json")
file(MAKE_DIRECTORY "${_json_include}")
file(CREATE_LINK "${QM_NLOHMANN_JSON_ROOT}/nlohmann" "${_json_include}/nlohmann" SYMBOLIC)
add_library(nlohmann_json_headers INTERFACE)
target_include_directories(nlohmann_json_headers SYSTEM INTERFACE "${_json_include}")
add_library(nlohmann_json::nlohmann_json ALIAS nlohmann_json_headers)

# A Windows program or module leaves the build without its debug sections:
# Wine reads a whole PE image into memory at every load, debug sections
# too (12 MB of outpost.exe's 14), into private pages of every process. They
# are kept in <build>/windows/debug/<target>.debug, for gdb's symbol-file.
function(qm_split_debug_info target)
    set(file "$<TARGET_FILE:${target}>")
    set(debug "${CMAKE_BINARY_DIR}/debug/${target}.debug")
    add_custom_command(TARGET ${target} POST_BUILD
        COMMAND ${CMAKE_COMMAND} -E make_directory "${CMAKE_BINARY_DIR}/debug"
        COMMAND ${CMAKE_OBJCOPY} --only-keep-debug "${file}" "${debug}"
        COMMAND ${CMAKE_OBJCOPY} --strip-debug "--add-gnu-debuglink=${debug}" "${file}"
        VERBATIM)
endfunction()

foreach(dir log outpost served tests/windows)
    if(EXISTS "${CMAKE_SOURCE_DIR}/${dir}/CMakeLists.txt")
        add_subdirectory(${dir})
    endif()
endforeach()
