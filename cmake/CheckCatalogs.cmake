# Fails when a text that the sources pass through _() is missing from one of the
# catalogs, or when a catalog holds an untranslated or fuzzy entry.
#
#   cmake -DSOURCE_DIR=<src> -DCATALOG_DIR=<dir with *.po> -DWORK_DIR=<scratch dir>
#         -DXGETTEXT=<xgettext> -DMSGCMP=<msgcmp> -DMSGFMT=<msgfmt> -P CheckCatalogs.cmake

file(GLOB_RECURSE sources RELATIVE ${SOURCE_DIR} ${SOURCE_DIR}/*.cpp ${SOURCE_DIR}/*.h)
file(GLOB catalogs ${CATALOG_DIR}/*.po)
if(NOT sources OR NOT catalogs)
    message(FATAL_ERROR "no sources in ${SOURCE_DIR} or no catalogs in ${CATALOG_DIR}")
endif()

file(MAKE_DIRECTORY ${WORK_DIR})
set(template ${WORK_DIR}/sources.pot)
# Only _() marks a text for translation; xgettext's default keywords are off.
execute_process(
    COMMAND ${XGETTEXT} --language=C++ --from-code=UTF-8 --keyword --keyword=_
            --force-po --output=${template} ${sources}
    WORKING_DIRECTORY ${SOURCE_DIR}
    RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "xgettext failed on the sources")
endif()

set(failed FALSE)
foreach(catalog IN LISTS catalogs)
    # msgcmp ignores untranslated and fuzzy entries of the catalog, so it also
    # reports a used text whose translation is missing.
    execute_process(COMMAND ${MSGCMP} --no-fuzzy-matching ${catalog} ${template}
                    RESULT_VARIABLE result ERROR_VARIABLE report)
    if(NOT result EQUAL 0)
        # Entries that no code uses yet are expected; show only what is missing.
        string(REGEX REPLACE "[^\n]*this message is not used\n" "" report "${report}")
        message(SEND_ERROR "${catalog} lacks texts that the sources pass through _():\n${report}")
        set(failed TRUE)
    endif()

    execute_process(COMMAND ${MSGFMT} --check --statistics --output-file=/dev/null ${catalog}
                    RESULT_VARIABLE result ERROR_VARIABLE statistics)
    if(NOT result EQUAL 0 OR statistics MATCHES "fuzzy|untranslated")
        message(SEND_ERROR "${catalog} is not completely translated: ${statistics}")
        set(failed TRUE)
    endif()
endforeach()

if(failed)
    message(FATAL_ERROR "the catalogs do not match the sources")
endif()
