# Imported targets for the toolkit, from Debian's wx-config:
#   wx::base  base and net (no window system)
#   wx::gui   the above plus core and the web view
find_program(WX_CONFIG wx-config REQUIRED)

function(launcher_wx_target target libs)
    execute_process(COMMAND ${WX_CONFIG} --cxxflags
                    OUTPUT_VARIABLE cxxflags OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
    execute_process(COMMAND ${WX_CONFIG} --libs ${libs}
                    OUTPUT_VARIABLE ldflags OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
    separate_arguments(cxxflags UNIX_COMMAND "${cxxflags}")
    separate_arguments(ldflags UNIX_COMMAND "${ldflags}")
    set(includes "")
    set(options "")
    foreach(flag IN LISTS cxxflags)
        if(flag MATCHES "^-I(.*)")
            list(APPEND includes "${CMAKE_MATCH_1}")
        else()
            list(APPEND options "${flag}")
        endif()
    endforeach()
    add_library(${target} INTERFACE IMPORTED GLOBAL)
    target_include_directories(${target} SYSTEM INTERFACE ${includes})
    target_compile_options(${target} INTERFACE ${options})
    target_link_libraries(${target} INTERFACE ${ldflags})
endfunction()

launcher_wx_target(wx::base "base,net")
launcher_wx_target(wx::gui "webview,core,base,net")
