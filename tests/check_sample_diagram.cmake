# The main job's diagram: runs the example host as scripts/run.sh does (default network, template
# and output) in a scratch directory, then checks that the filled diagram is well-formed XML and
# that every placeholder of the template was resolved.
# Arguments: HOST, EMULATOR (what runs the host where it was cross-built, else empty), TEMPLATE
# (the shipped template), XMLLINT (empty when not found), WORKDIR.
if(NOT XMLLINT)
  message(FATAL_ERROR "xmllint not found: install it with scripts/setup.sh")
endif()
file(REMOVE_RECURSE ${WORKDIR})
file(MAKE_DIRECTORY ${WORKDIR})
set(diagram ${WORKDIR}/varnok_diagram.svg)

execute_process(COMMAND ${EMULATOR} ${HOST} WORKING_DIRECTORY ${WORKDIR}
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "host failed (${rc}):\n${out}\n${err}")
endif()
if(NOT out MATCHES "\ndiagram varnok_diagram.svg " OR NOT EXISTS ${diagram})
  message(FATAL_ERROR "host wrote no diagram:\n${out}")
endif()

execute_process(COMMAND ${XMLLINT} --noout ${diagram} RESULT_VARIABLE rc ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "the diagram is not well-formed XML:\n${err}")
endif()

file(READ ${TEMPLATE} template)
file(READ ${diagram} filled)
string(REGEX MATCHALL "%" placeholders "${template}")
list(LENGTH placeholders count)
if(count EQUAL 0)
  message(FATAL_ERROR "the template holds no placeholder")
endif()
if(filled MATCHES "unknown")
  string(REGEX MATCH "[^\n]*unknown[^\n]*" line "${filled}")
  message(FATAL_ERROR "a placeholder was left unknown: ${line}")
endif()
if(filled MATCHES "%")
  string(REGEX MATCH "[^\n]*%[^\n]*" line "${filled}")
  message(FATAL_ERROR "a placeholder was left as written: ${line}")
endif()
message(STATUS "${count} placeholders filled in ${diagram}")
