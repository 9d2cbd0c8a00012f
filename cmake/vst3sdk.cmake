# VST 3 SDK for the Linux plug-in.
#
# By default the build uses the SDK subset that Debian ships with JUCE. That
# subset lacks AudioEffect, CPluginFactory and the Linux module entry; the
# project's stand-ins in sdk/ provide them under the same names and include
# paths. With -DVST3_SDK_ROOT=<full SDK> the SDK's own files are compiled
# instead. The two lists below are the only difference between the two paths.

set(VST3_SDK_ROOT "/usr/share/juce/modules/juce_audio_processors/format_types/VST3_SDK"
    CACHE PATH "Root of the VST 3 SDK (Debian's subset or a full SDK)")
if(NOT EXISTS "${VST3_SDK_ROOT}/pluginterfaces/base/funknown.h")
    message(FATAL_ERROR "No VST 3 SDK at ${VST3_SDK_ROOT}; run scripts/install-deps.sh or pass -DVST3_SDK_ROOT=")
endif()

set(_sdk_common
    pluginterfaces/base/funknown.cpp
    pluginterfaces/base/coreiids.cpp
    pluginterfaces/base/ustring.cpp
    base/source/fobject.cpp
    base/source/fstring.cpp
    base/source/updatehandler.cpp
    base/source/baseiids.cpp
    base/thread/source/flock.cpp
    public.sdk/source/vst/vstinitiids.cpp
    public.sdk/source/vst/vstcomponent.cpp
    public.sdk/source/vst/vstcomponentbase.cpp
    public.sdk/source/vst/vsteditcontroller.cpp
    public.sdk/source/vst/vstbus.cpp
    public.sdk/source/vst/vstparameters.cpp
    public.sdk/source/common/pluginview.cpp
    public.sdk/source/common/memorystream.cpp)

# Pieces of a full SDK that the Debian subset does not have.
set(_sdk_full_only
    public.sdk/source/vst/vstaudioeffect.cpp
    public.sdk/source/main/pluginfactory.cpp
    public.sdk/source/main/moduleinit.cpp)

# Files of some full SDKs that others lack, compiled whenever the SDK has
# them: newer factories (3.7.x to 3.8) call InjectCreateTimerFunction on
# Linux, which base/source/timer.cpp defines.
set(_sdk_full_when_present
    base/source/timer.cpp)

# The SDK's hosting classes (host context, messages, attribute lists), which
# the tests use as a host's objects, and what they need in the SDKs that
# have it: 3.7.x names the host through StringConvert, which 3.7.14 and
# later define in commonstringconvert.cpp.
set(_sdk_hosting
    public.sdk/source/vst/hosting/hostclasses.cpp
    public.sdk/source/vst/hosting/pluginterfacesupport.cpp)
set(_sdk_hosting_when_present
    public.sdk/source/vst/utility/stringconvert.cpp
    public.sdk/source/common/commonstringconvert.cpp)

# The project's stand-ins for them (relative to sdk/).
set(_sdk_standins
    public.sdk/source/vst/vstaudioeffect.cpp
    public.sdk/source/main/pluginfactory.cpp
    public.sdk/source/main/moduleinit.cpp
    viewiids.cpp)

# The Linux module entry (ModuleEntry, ModuleExit, moduleHandle) is compiled
# into the plug-in module itself: nothing references it, so it must not sit
# in an archive where the linker would drop it.
set(_sdk_entry public.sdk/source/main/linuxmain.cpp)

set(_sdk_sources "")
foreach(f IN LISTS _sdk_common)
    list(APPEND _sdk_sources "${VST3_SDK_ROOT}/${f}")
endforeach()

if(EXISTS "${VST3_SDK_ROOT}/public.sdk/source/vst/vstaudioeffect.cpp")
    set(VST3_FULL_SDK ON)
    foreach(f IN LISTS _sdk_full_only)
        if(EXISTS "${VST3_SDK_ROOT}/${f}")
            list(APPEND _sdk_sources "${VST3_SDK_ROOT}/${f}")
        else()
            list(APPEND _sdk_sources "${CMAKE_SOURCE_DIR}/sdk/${f}")
        endif()
    endforeach()
    foreach(f IN LISTS _sdk_full_when_present)
        if(EXISTS "${VST3_SDK_ROOT}/${f}")
            list(APPEND _sdk_sources "${VST3_SDK_ROOT}/${f}")
        endif()
    endforeach()
    # Older full SDKs leave the editor interface ids to the plug-in.
    set(_have_view_iids OFF)
    foreach(f IN LISTS _sdk_sources)
        file(STRINGS "${f}" _hit REGEX "DEF_CLASS_IID \\(IPlugView\\)")
        if(_hit)
            set(_have_view_iids ON)
        endif()
    endforeach()
    if(NOT _have_view_iids)
        list(APPEND _sdk_sources "${CMAKE_SOURCE_DIR}/sdk/viewiids.cpp")
    endif()
    set(_sdk_includes "${VST3_SDK_ROOT}")
    set(VST3_SDK_ENTRY_SOURCE "${VST3_SDK_ROOT}/${_sdk_entry}")
else()
    set(VST3_FULL_SDK OFF)
    foreach(f IN LISTS _sdk_standins)
        list(APPEND _sdk_sources "${CMAKE_SOURCE_DIR}/sdk/${f}")
    endforeach()
    set(_sdk_includes "${CMAKE_SOURCE_DIR}/sdk" "${VST3_SDK_ROOT}")
    set(VST3_SDK_ENTRY_SOURCE "${CMAKE_SOURCE_DIR}/sdk/${_sdk_entry}")
endif()
set(VST3_SDK_HOSTING_SOURCES "")
foreach(f IN LISTS _sdk_hosting)
    list(APPEND VST3_SDK_HOSTING_SOURCES "${VST3_SDK_ROOT}/${f}")
endforeach()
foreach(f IN LISTS _sdk_hosting_when_present)
    if(EXISTS "${VST3_SDK_ROOT}/${f}")
        list(APPEND VST3_SDK_HOSTING_SOURCES "${VST3_SDK_ROOT}/${f}")
    endif()
endforeach()
message(STATUS "VST 3 SDK: ${VST3_SDK_ROOT} (full SDK: ${VST3_FULL_SDK})")

add_library(vst3sdk STATIC ${_sdk_sources})
target_include_directories(vst3sdk SYSTEM PUBLIC ${_sdk_includes})
target_compile_definitions(vst3sdk PUBLIC RELEASE=1)
target_compile_options(vst3sdk PRIVATE -w)
set_target_properties(vst3sdk PROPERTIES
    POSITION_INDEPENDENT_CODE ON
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON)
target_link_libraries(vst3sdk PUBLIC Threads::Threads ${CMAKE_DL_LIBS})
