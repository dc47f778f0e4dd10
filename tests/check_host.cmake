# The example host: its usage line, its options, and that it reads only the files it is given,
# relative paths taken from the working directory (never from the source tree), with the units
# of its bus table shown. Arguments: HOST, EMULATOR (what runs the host where it was cross-built,
# else empty), NETWORK (a network file to copy), WORKDIR.
file(REMOVE_RECURSE ${WORKDIR})
file(MAKE_DIRECTORY ${WORKDIR})
file(COPY_FILE ${NETWORK} ${WORKDIR}/net.txt)

# run(NAME RC STDOUT_REGEX STDERR_REGEX ARGS...): runs the host in WORKDIR and checks its exit
# status and that its outputs match the expressions (an empty expression matches anything).
function(run name rc out_regex err_regex)
  execute_process(COMMAND ${EMULATOR} ${HOST} ${ARGN} WORKING_DIRECTORY ${WORKDIR}
                  RESULT_VARIABLE got OUTPUT_VARIABLE out ERROR_VARIABLE err)
  # lines end in CR LF where the C library writes text that way
  string(REPLACE "\r" "" out "${out}")
  string(REPLACE "\r" "" err "${err}")
  if(NOT got EQUAL rc)
    message(FATAL_ERROR "${name}: exit status ${got}, expected ${rc}\n${out}\n${err}")
  endif()
  if(NOT out MATCHES "${out_regex}")
    message(FATAL_ERROR "${name}: standard output does not match '${out_regex}':\n${out}")
  endif()
  if(NOT err MATCHES "${err_regex}")
    message(FATAL_ERROR "${name}: standard error does not match '${err_regex}':\n${err}")
  endif()
  set(last_out "${out}" PARENT_SCOPE)
endfunction()

run("--help" 0 "^usage: [^\n]*varnok_host[^\n]* \\[network file \\[diagram template \\[diagram output\\]\\]\\]\n" "^$" --help)
run("-h" 0 "^usage: " "^$" -h)
run("an unknown option" 2 "^$" "unknown option -x\nusage: " -x net.txt)
run("too many arguments" 2 "^$" "^usage: " a b c d)

# A relative path that does not open from the working directory is not looked for elsewhere,
# for the network as for the template.
run("a network file only in the source tree" 1 "" "^load failed \\(-5\\): varnok_load_file: cannot open file: examples/sample.txt\n$"
    examples/sample.txt)
if(last_out MATCHES "\nnetwork ")
  message(FATAL_ERROR "a network was loaded from elsewhere:\n${last_out}")
endif()
run("a template only in the source tree" 1 "\nnetwork net.txt\n" "^diagram failed \\(-5\\): DiagramRenderer: cannot open template: examples/sample.svg\n$"
    net.txt examples/sample.svg)

# The network named, from the working directory; the bus table's units stand above it.
run("a network in the working directory" 0
    "\nnetwork net.txt\n.*\nbus table: V in pu, angle in radians, vnom_kv in kV\nbus [^\n]* V=[^\n]* angle=[^\n]*\n.*\nno diagram: " "^$"
    net.txt)
message(STATUS "the host reads only what it is given")
