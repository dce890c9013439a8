# decimora_add_alarm_sounds(<target> <folder>): a target that synthesises highalarm.wav and
# lowalarm.wav into <folder> at build time. The program looks for them in the working directory and
# then in its resource folder, so the build puts them beside the executable and the install into the
# installed data folder.
set(DECIMORA_ALARM_SOUND_GENERATOR ${CMAKE_CURRENT_LIST_DIR}/make_alarm_sounds.cpp)

function(decimora_add_alarm_sounds target folder)
    add_executable(decimora_make_alarm_sounds ${DECIMORA_ALARM_SOUND_GENERATOR})
    target_link_libraries(decimora_make_alarm_sounds PRIVATE decimora_options)
    set(sounds ${folder}/highalarm.wav ${folder}/lowalarm.wav)
    add_custom_command(
        OUTPUT ${sounds}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${folder}
        COMMAND decimora_make_alarm_sounds ${folder}
        DEPENDS decimora_make_alarm_sounds
        COMMENT "Synthesising the alarm sounds into ${folder}"
        VERBATIM)
    add_custom_target(${target} ALL DEPENDS ${sounds})
    install(FILES ${sounds} DESTINATION ${DECIMORA_INSTALL_DATADIR})
endfunction()
