# The Windows tool takes names that the ANSI code page lacks (Greek under 1252): files are
# opened by the names given, and --exe reaches the .reg file as given.
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

execute_process(COMMAND ${RUN} ${TOOL} uninstall-entry "${win}\\notes Ω.json"
                        --exe "C:\\Programme Ω\\uninstall.exe" -o "${win}\\entry Ω.reg"
                RESULT_VARIABLE code)
file(READ "${folder}/entry Ω.reg" reg HEX)
# "Programme Ω" in UTF-16LE: ANSI arguments would carry a best-fitted "O" or "?" instead.
string(FIND "${reg}" "500072006f006700720061006d006d0065002000a903" at)
if(NOT code EQUAL 0 OR at LESS 0)
  message(FATAL_ERROR "uninstall-entry --exe: exit ${code}, the path not in the .reg file")
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
