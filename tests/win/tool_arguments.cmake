# The Windows tool takes names that the ANSI code page lacks (Greek under 1252): files are
# opened by the names given, and scan reports them as they are.
# cmake -DRUN=wine-run -DTOOL=tallowin.exe -DMANIFEST=... -DROOT=build-root -DBUILD_DIR_NAME=win64 -P
set(folder "${ROOT}/${BUILD_DIR_NAME}/tools/Ωμέγα dir")
file(REMOVE_RECURSE "${folder}")
file(MAKE_DIRECTORY "${folder}")
file(COPY_FILE "${MANIFEST}" "${folder}/notes Ω.json")
set(win "T:\\${BUILD_DIR_NAME}\\tools\\Ωμέγα dir")

function(run)
  execute_process(COMMAND ${RUN} ${TOOL} ${ARGN} RESULT_VARIABLE code ERROR_VARIABLE err
                  OUTPUT_VARIABLE out)
  if(NOT code EQUAL 0)
    message(FATAL_ERROR "tallowin ${ARGN}: exit ${code}: ${err}")
  endif()
  set(out "${out}" PARENT_SCOPE)
endfunction()

run(pack "${win}\\notes Ω.json" --stub "T:\\${BUILD_DIR_NAME}\\uninstall.exe"
    -o "${win}\\packed Ω.exe")
run(dump "${win}\\packed Ω.exe")
if(NOT out MATCHES "\"name\": \"notes.exe\"")
  message(FATAL_ERROR "dump of the packed program: ${out}")
endif()

# scan reads the names through the wide calls: the Greek name is reported as it is, and as
# one that code page 1252 cannot hold.
file(WRITE "${folder}/stage/Ωμέγα.txt" "x")
execute_process(COMMAND ${RUN} ${TOOL} scan "${win}\\stage" --base "${win}\\notes Ω.json"
                        -o "${win}\\scanned.json"
                RESULT_VARIABLE code ERROR_VARIABLE err)
if(NOT code EQUAL 2 OR NOT err MATCHES "stage: Ωμέγα.txt: character U\\+03A9 at byte 0 cannot"
   OR EXISTS "${folder}/scanned.json")
  message(FATAL_ERROR "scan of a name beyond code page 1252: exit ${code}: ${err}")
endif()
file(REMOVE_RECURSE "${folder}")
