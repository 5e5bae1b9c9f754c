# Warnings set per target, so a target that is not ours (Qt's own generated
# code, a fuzz driver) is not forced to our level.
function(rv38t_warnings target)
  if(MSVC)
    target_compile_options(${target} PRIVATE /W4)
  else()
    target_compile_options(${target} PRIVATE -Wall -Wextra)
  endif()
endfunction()

# A first build from a fresh clone has no compiler cache, and most of its time
# went to parsing the same Qt headers again in every source file. What paid
# (bench/RESULTS.md, "First start"): each library compiled as one unit, its
# sources and, as each source includes its own moc output, its moc code; that
# halves the processor time of the two programs. Precompiled Qt headers, one
# per library or one per layer, paid less than the unit build alone and nothing
# on top of it (while every library waits for the header): off, kept as an
# option to measure again.
set(RV38T_PCH "OFF" CACHE STRING "Precompiled Qt headers: OFF, TARGET (one per library) or SHARED (one per layer)")
option(RV38T_UNITY "Compile each library as one translation unit" ON)

# rv38t_fast_build(TARGET CORE|WIDGETS): the unity build and precompiled
# headers of one of our libraries. CORE is the widget-free header set, WIDGETS
# the set for libraries that link Qt Widgets; with SHARED the first library of
# each set builds it and the others reuse it (same flags: the build directory's).
function(rv38t_fast_build target set)
  if(RV38T_UNITY)
    set_target_properties(${target} PROPERTIES UNITY_BUILD ON)
  endif()
  if(RV38T_PCH STREQUAL "OFF")
    return()
  endif()
  # Only what every library of the set can reach: controls links no Qt Network.
  set(common_headers <QByteArray> <QList> <QObject> <QString> <QStringList> <QTimer>
    <functional> <memory>)
  set(core_headers ${common_headers} <QHostAddress> <QTcpSocket>)
  set(widget_headers ${common_headers} <QCheckBox> <QLabel> <QLineEdit> <QListWidget>
    <QPainter> <QPushButton> <QWidget>)
  get_property(owner GLOBAL PROPERTY RV38T_PCH_OWNER_${set})
  if(RV38T_PCH STREQUAL "SHARED" AND owner)
    target_precompile_headers(${target} REUSE_FROM ${owner})
  else()
    if(set STREQUAL "CORE")
      target_precompile_headers(${target} PRIVATE ${core_headers})
    else()
      target_precompile_headers(${target} PRIVATE ${widget_headers})
    endif()
    set_property(GLOBAL PROPERTY RV38T_PCH_OWNER_${set} ${target})
  endif()
endfunction()
