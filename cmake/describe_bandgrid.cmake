# cmake -DFILE=path/FS.bsxf -P describe_bandgrid.cmake: says in two lines where the
# band-grid file is and what it holds.
file(READ ${FILE} text)
string(REGEX MATCH "Fermi Energy: *([^\n]*)" ignored "${text}")
set(fermi ${CMAKE_MATCH_1})
string(REGEX MATCH "BEGIN_BANDGRID_3D\n *([0-9]+) *\n *([0-9]+) +([0-9]+) +([0-9]+)" ignored "${text}")
set(count ${CMAKE_MATCH_1})
math(EXPR nx "${CMAKE_MATCH_2} - 1")
math(EXPR ny "${CMAKE_MATCH_3} - 1")
math(EXPR nz "${CMAKE_MATCH_4} - 1")
set(closed "${CMAKE_MATCH_2} x ${CMAKE_MATCH_3} x ${CMAKE_MATCH_4}")
string(REGEX MATCHALL "\n BAND: [0-9]+" bands "${text}")
string(REGEX REPLACE "\n BAND: " "" bands "${bands}")
string(REPLACE ";" ", " bands "${bands}")
message("FS.bsxf written to ${FILE}")
message("It holds the ${nx} x ${ny} x ${nz} k-point mesh as a closed ${closed} grid, "
        "with the ${count} bands that cross Ef = ${fermi} eV: ${bands}.")
