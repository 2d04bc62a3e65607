# vexal_build_stamp(target): the library's build time stamp, fixed when the project is
# configured. Defines VEXAL_BUILD_DATE ("Jun 18 2016") and VEXAL_BUILD_TIME
# ("Sat Jun 18 18:11:03 2016") as plain string literals, the day padded with a blank below 10 as
# compilers print __DATE__; write u"" VEXAL_BUILD_DATE for wide text. With SOURCE_DATE_EPOCH set
# the stamp is that moment in UTC (reproducible builds), otherwise the local time of configuring.
#
# Only the target's BuildStamp.cpp gets the definitions when it has one, so a new stamp after
# reconfiguring recompiles that one file rather than the whole target.

function(vexal_build_stamp target)
  if(DEFINED ENV{SOURCE_DATE_EPOCH})
    set(zone UTC)
  else()
    set(zone "")
  endif()
  string(TIMESTAMP weekday "%a" ${zone})
  string(TIMESTAMP month "%b" ${zone})
  string(TIMESTAMP day "%d" ${zone})
  string(TIMESTAMP year "%Y" ${zone})
  string(TIMESTAMP clock "%H:%M:%S" ${zone})
  string(REGEX REPLACE "^0" " " day "${day}")

  set(date_text "${month} ${day} ${year}")
  set(time_text "${weekday} ${month} ${day} ${clock} ${year}")
  set(definitions "VEXAL_BUILD_DATE=\"${date_text}\"" "VEXAL_BUILD_TIME=\"${time_text}\"")

  get_target_property(sources ${target} SOURCES)
  set(stamped "")
  foreach(source IN LISTS sources)
    get_filename_component(name "${source}" NAME)
    if(name STREQUAL "BuildStamp.cpp")
      list(APPEND stamped "${source}")
    endif()
  endforeach()
  if(stamped)
    set_property(SOURCE ${stamped} TARGET_DIRECTORY ${target} APPEND PROPERTY COMPILE_DEFINITIONS ${definitions})
  else()
    target_compile_definitions(${target} PRIVATE ${definitions})
  endif()
endfunction()
