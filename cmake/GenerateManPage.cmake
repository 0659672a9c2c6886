# Writes the manual page of one built program with help2man, from what the program itself says
# to --help and --version, so that the page never drifts from the program. Run at build time
# (cmake/ManPages.cmake adds the commands):
#
#   cmake -DPROGRAM=<built program> -DPAGE=<out>/<name>.1 -DVERSION=<project version>
#         -DHELP2MAN=<help2man> [-DGZIP=<gzip>] [-DINCLUDE=<name>.h2m] [-DCOMMANDS=ON]
#         -P GenerateManPage.cmake
#
# INCLUDE   help2man include file kept in the repository (man/<name>.h2m): NAME, EXAMPLES,
#           SEE ALSO and other sections that --help does not give.
# COMMANDS  also run `<program> <command> --help` for every command that `<program> --help`
#           lists under "Subcommands:" (or "Commands:"), and make of them a section COMMANDS,
#           one subsection per command: synopsis, description, arguments, options, and the
#           closing paragraphs (exit statuses and the like).
# GZIP      when given, the page is written compressed as <name>.1.gz (gzip -9n).
#
# The program is run here, not by help2man: with QT_QPA_PLATFORM=offscreen (so the window's
# --help needs no display), stdin from /dev/null, standard error kept, and a time limit; the
# answers are then served to help2man by a small stand-in script of the program's name. A
# program without --version gets the project version (help2man --version-string); one whose
# --help fails still gets a page from what it printed (with a warning), or from its include
# file alone when it printed nothing.
cmake_minimum_required(VERSION 3.25)

foreach(required PROGRAM PAGE VERSION HELP2MAN)
  if(NOT DEFINED ${required})
    message(FATAL_ERROR "GenerateManPage.cmake: -D${required}=... is required")
  endif()
endforeach()

get_filename_component(name "${PROGRAM}" NAME)
set(work "${PAGE}.work")
file(REMOVE_RECURSE "${work}")
file(MAKE_DIRECTORY "${work}/bin")

set(ENV{QT_QPA_PLATFORM} offscreen)
set(ENV{LC_ALL} C)
set(time_limit 20)

# Runs the program with the given arguments. Sets <out> to what it wrote to standard output,
# or to standard error when it wrote nothing there (so a library's warning on standard error
# is not taken for help, and a program that prints its help there is still heard), and
# <result> to "ok", "failed" or "timeout" (then <out> is empty).
function(run_program out result)
  execute_process(COMMAND "${PROGRAM}" ${ARGN}
                  INPUT_FILE /dev/null
                  OUTPUT_VARIABLE text ERROR_VARIABLE errors
                  RESULT_VARIABLE status
                  TIMEOUT ${time_limit})
  if(text STREQUAL "")
    set(text "${errors}")
  endif()
  list(JOIN ARGN " " shown)
  if(status STREQUAL "0")
    set(${result} ok PARENT_SCOPE)
  elseif(status MATCHES "timeout")
    set(${result} timeout PARENT_SCOPE)
    set(text "")
    message(WARNING "${name} ${shown} did not end within ${time_limit} seconds")
  else()
    set(${result} failed PARENT_SCOPE)
    message(WARNING "${name} ${shown}: ${status} (the page is made from what it printed)")
  endif()
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

# CMake lists split at ";" and keep "[...]" together: text is handled with these replaced by
# markers, which `restore` puts back.
set(semicolon "@QV_SEMICOLON@")
set(open_bracket "@QV_OPEN_BRACKET@")
set(close_bracket "@QV_CLOSE_BRACKET@")
function(text_to_lines text out)
  string(REPLACE ";" "${semicolon}" text "${text}")
  string(REPLACE "[" "${open_bracket}" text "${text}")
  string(REPLACE "]" "${close_bracket}" text "${text}")
  string(REGEX REPLACE "\n$" "" text "${text}")
  string(REPLACE "\n" ";" lines "${text}")
  set(${out} "${lines}" PARENT_SCOPE)
endfunction()
function(restore var)
  set(text "${${var}}")
  string(REPLACE "${semicolon}" ";" text "${text}")
  string(REPLACE "${open_bracket}" "[" text "${text}")
  string(REPLACE "${close_bracket}" "]" text "${text}")
  set(${var} "${text}" PARENT_SCOPE)
endfunction()

# The program's help in the form help2man reads best: the usage line names the program without
# its directory, "usage:" is "Usage:", and in the entries of option lists CLI11's "-h,--help"
# reads "-h, --help" (still two spaces or more before the entry's description).
function(normalise_help var)
  set(text "${${var}}")
  string(REGEX REPLACE "(^|\n)[Uu]sage: +[^ \n]*/" "\\1Usage: " text "${text}")
  string(REGEX REPLACE "(^|\n)usage:" "\\1Usage:" text "${text}")
  text_to_lines("${text}" lines)
  set(text "")
  foreach(line IN LISTS lines)
    if(line MATCHES "^( +)(-[^ ]*( [^ ]+)*)(  +(.*))?$")
      set(entry "${CMAKE_MATCH_1}${CMAKE_MATCH_2}")
      set(description "${CMAKE_MATCH_5}")
      string(REGEX REPLACE ",-" ", -" entry "${entry}")
      set(line "${entry}")
      if(NOT description STREQUAL "")
        string(LENGTH "${entry}" width)
        string(APPEND line "  ")
        while(width LESS 28)
          string(APPEND line " ")
          math(EXPR width "${width} + 1")
        endwhile()
        string(APPEND line "${description}")
      endif()
    endif()
    string(APPEND text "${line}\n")
  endforeach()
  restore(text)
  set(${var} "${text}" PARENT_SCOPE)
endfunction()

# roff: a backslash is \e, the hyphens of an option name are minus signs, and a line must not
# start with a control character (nor, in a help2man include file, with "[" or "/").
function(roff_text text out)
  string(REPLACE "\\" "\\e" text "${text}")
  string(REPLACE "--" "\\-\\-" text "${text}")
  string(REGEX REPLACE "(^|[ (])-([A-Za-z])" "\\1\\\\-\\2" text "${text}")
  while(text MATCHES "\\\\-[A-Za-z0-9]+-[A-Za-z]")
    string(REGEX REPLACE "(\\\\-[A-Za-z0-9]+)-([A-Za-z])" "\\1\\\\-\\2" text "${text}")
  endwhile()
  if(text MATCHES "^[.'/]" OR text MATCHES "^${open_bracket}")
    set(text "\\&${text}")
  endif()
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

# One entry of an option or argument list: "--output-dir, --workdir TEXT" (or CLI11's
# "--output-dir,--workdir TEXT") gives the names bold and the value italic; "IMAGE TEXT
# REQUIRED" gives the argument's name italic.
function(roff_term term out)
  string(REPLACE ", -" ",-" term "${term}")
  string(REPLACE "\\" "\\e" term "${term}")
  string(REPLACE "-" "\\-" term "${term}")
  if(term MATCHES "^([^ ]+) (.*)$")
    set(head "${CMAKE_MATCH_1}")
    set(rest " ${CMAKE_MATCH_2}")
  else()
    set(head "${term}")
    set(rest "")
  endif()
  if(head MATCHES "^\\\\-")
    string(REPLACE "," "\\fR, \\fB" head "${head}")
    set(result "\\fB${head}\\fR")
    if(rest)
      set(result "${result} \\fI${rest}\\fR")
      string(REPLACE "\\fI " "\\fI" result "${result}")
    endif()
  else()
    set(result "\\fI${head}\\fR${rest}")
  endif()
  set(${out} "${result}" PARENT_SCOPE)
endfunction()

# The roff of one command's --help (CLI11's layout: description, "Usage: ...", lists under
# "Heading:" lines with two-space-indented entries and deeper-indented continuations, then
# closing paragraphs, in which a line such as "Exit status: ..." starts a paragraph). An entry
# is parted from its description by two spaces or more, except that CLI11 starts a description
# in column 30 after a single space when its entry is 27 characters long.
function(command_section program command help out)
  text_to_lines("${help}" lines)
  list(LENGTH lines count)
  set(synopsis "${program} ${command}")
  set(description "")
  set(body "")
  set(seen_usage FALSE)
  set(in_list FALSE)
  set(in_paragraph FALSE)
  set(index 0)
  while(index LESS count)
    list(GET lines ${index} line)
    math(EXPR index "${index} + 1")
    set(next "")
    if(index LESS count)
      list(GET lines ${index} next)
    endif()
    string(REGEX REPLACE " +$" "" line "${line}")
    if(NOT seen_usage)
      if(line MATCHES "^Usage: +(.*)$")
        set(synopsis "${CMAKE_MATCH_1}")
        set(seen_usage TRUE)
      elseif(NOT line STREQUAL "")
        roff_text("${line}" line)
        string(APPEND description "${line}\n")
      endif()
      continue()
    endif()
    if(line STREQUAL "")
      set(in_list FALSE)
      set(in_paragraph FALSE)
    elseif(line MATCHES "^[A-Z][A-Za-z ]*:$")
      roff_text("${line}" line)
      string(APPEND body ".PP\n.I \"${line}\"\n")
      set(in_list TRUE)
    elseif(in_list AND line MATCHES "^  [^ ]")
      set(entry "")
      set(text "")
      if(line MATCHES "^  ([^ ]+( [^ ]+)*)  +(.*)$")
        set(entry "${CMAKE_MATCH_1}")
        set(text "${CMAKE_MATCH_3}")
      elseif(NOT next MATCHES "^   " AND line MATCHES "^  ([^ ].........................[^ ]) ([^ ].*)$")
        set(entry "${CMAKE_MATCH_1}")
        set(text "${CMAKE_MATCH_2}")
      else()
        string(SUBSTRING "${line}" 2 -1 entry)
      endif()
      roff_term("${entry}" entry)
      string(APPEND body ".TP\n${entry}\n")
      if(NOT text STREQUAL "")
        roff_text("${text}" text)
        string(APPEND body "${text}\n")
      endif()
    elseif(in_list AND line MATCHES "^   +(.*)$")
      roff_text("${CMAKE_MATCH_1}" text)
      string(APPEND body "${text}\n")
    else()
      string(REGEX REPLACE "^ +" "" line "${line}")
      if(NOT in_paragraph OR line MATCHES "^[A-Z][A-Za-z ,]*: ")
        string(APPEND body ".PP\n")
        set(in_paragraph TRUE)
      endif()
      roff_text("${line}" line)
      string(APPEND body "${line}\n")
    endif()
  endwhile()
  roff_text("${synopsis}" synopsis)
  string(REPLACE "-" "\\-" synopsis "${synopsis}")
  string(REPLACE "\"" "" synopsis "${synopsis}")
  set(${out} ".SS \"${synopsis}\"\n${description}${body}" PARENT_SCOPE)
endfunction()

# --help: the page's synopsis, description and options.
run_program(help help_result --help)
if(help STREQUAL "")
  message(WARNING "${name} --help printed nothing: its page holds its include file alone")
  set(help "Usage: ${name}\n")
endif()
set(help_for_commands "${help}")
normalise_help(help)
file(WRITE "${work}/help.txt" "${help}")

# --version: the program's own answer when it names the version, else the project version.
# (Not asked of a program whose --help did not end: it takes no options.)
set(version_options "--version-string=${VERSION}")
if(NOT help_result STREQUAL "timeout")
  run_program(version version_result --version)
  string(FIND "${version}" "${VERSION}" version_at)
  if(version_result STREQUAL "ok" AND version_at GREATER_EQUAL 0)
    file(WRITE "${work}/version.txt" "${version}")
    set(version_options "")
  endif()
endif()

# The include file: the one kept in the repository, then the section of the commands.
set(include_text "")
if(DEFINED INCLUDE AND EXISTS "${INCLUDE}")
  file(READ "${INCLUDE}" include_text)
endif()
if(COMMANDS)
  set(commands "")
  text_to_lines("${help_for_commands}" lines)
  set(in_commands FALSE)
  foreach(line IN LISTS lines)
    if(line MATCHES "^(Sub)?[Cc]ommands:")
      set(in_commands TRUE)
    elseif(in_commands AND line MATCHES "^  ([a-z][a-z0-9-]*)( |$)")
      list(APPEND commands "${CMAKE_MATCH_1}")
    elseif(NOT line MATCHES "^   ")
      set(in_commands FALSE)
    endif()
  endforeach()
  if(commands STREQUAL "")
    message(WARNING "${name} --help lists no commands: the page has no section COMMANDS")
  else()
    set(section "")
    foreach(command IN LISTS commands)
      run_program(command_help command_result ${command} --help)
      string(REGEX REPLACE "(^|\n)[Uu]sage: +[^ \n]*/" "\\1Usage: " command_help
             "${command_help}")
      command_section("${name}" "${command}" "${command_help}" roff)
      string(APPEND section "${roff}")
    endforeach()
    restore(section)
    string(APPEND include_text "\n[COMMANDS]\n"
           ".I ${name} COMMAND \\-\\-help\n"
           "prints what follows for one command.\n${section}")
  endif()
endif()
file(WRITE "${work}/page.h2m" "${include_text}")

# The stand-in that answers help2man as the program did.
file(WRITE "${work}/bin/${name}"
     "#!/bin/sh\n"
     "case \"$1\" in\n"
     "  --help) exec cat '${work}/help.txt' ;;\n"
     "  --version) exec cat '${work}/version.txt' ;;\n"
     "esac\n"
     "exit 1\n")
file(CHMOD "${work}/bin/${name}" PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
     GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

file(REMOVE "${PAGE}" "${PAGE}.gz")
execute_process(COMMAND "${HELP2MAN}" --no-info --no-discard-stderr --section=1
                        "--source=Quorvane ${VERSION}" ${version_options}
                        "--include=${work}/page.h2m" "--output=${PAGE}" "${work}/bin/${name}"
                RESULT_VARIABLE status
                ERROR_VARIABLE errors)
if(NOT status STREQUAL "0")
  message(FATAL_ERROR "help2man failed for ${name} (${status}): ${errors}")
endif()
if(GZIP)
  execute_process(COMMAND "${GZIP}" -9nf "${PAGE}" RESULT_VARIABLE status)
  if(NOT status STREQUAL "0")
    message(FATAL_ERROR "gzip failed for ${PAGE}")
  endif()
endif()
file(REMOVE_RECURSE "${work}")
