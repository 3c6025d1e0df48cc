# What `cmake --install` puts under the prefix, and the Debian package CPack builds from it
# (make deb). Every program lands in bin/ side by side: tournament runs marketd, buyer and
# RemoteControl from its own folder, buyer finds RemoteControl along PATH and agent-check finds it
# beside itself. Nothing installed refers to the source or build tree.
# The name of the package, and of its folders under share/ and share/doc/.
set(MARKET_PACKAGE_NAME auction-market)
set(CMAKE_INSTALL_DOCDIR share/doc/${MARKET_PACKAGE_NAME} CACHE PATH "documentation")
include(GNUInstallDirs)
set(MARKET_DATA_DIR ${CMAKE_INSTALL_DATADIR}/${MARKET_PACKAGE_NAME})

# cpack installs what the build made without building everything first (the tests are not part of
# the package); make deb builds the package's targets itself.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

set(MARKET_PROGRAMS buyer remote_control marketd market_peer market-sim tournament market-report
                    agent_check)
install(TARGETS ${MARKET_PROGRAMS} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# The example scenarios and tournament files keep their folders, so a tournament file's
# "../scenarios/default.toml" resolves in the installed copy as it does in the checkout.
install(DIRECTORY ${PROJECT_SOURCE_DIR}/scenarios DESTINATION ${MARKET_DATA_DIR}
        FILES_MATCHING PATTERN "*.toml")
install(FILES ${PROJECT_SOURCE_DIR}/tournament/demo.toml
              ${PROJECT_SOURCE_DIR}/tournament/demo_virtual.toml
              ${PROJECT_SOURCE_DIR}/tournament/mixed.toml
        DESTINATION ${MARKET_DATA_DIR}/tournament)

install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/ARCHITECTURE.md
        DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs/ DESTINATION ${CMAKE_INSTALL_DOCDIR}/docs)

install(FILES ${PROJECT_SOURCE_DIR}/completions/tournament
              ${PROJECT_SOURCE_DIR}/completions/marketd
              ${PROJECT_SOURCE_DIR}/completions/market-sim
              ${PROJECT_SOURCE_DIR}/completions/market-report
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)

# Everything the package holds, built (make deb builds this, then runs cpack).
add_custom_target(package_contents DEPENDS ${MARKET_PROGRAMS})

# The Debian package. Depends comes from dpkg-shlibdeps: the shared libraries the programs load,
# nothing needed only to build or test them.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${MARKET_PACKAGE_NAME})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Auction market maintainers <maintainers@auction-market.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "descending-price auction market: server, gateway, buyer agent and tournaments")
# The long description; the package's Description starts with the summary above.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "A market that sells goods by descending-price auctions to buyer agents.
The gateway RemoteControl runs a whole session for one agent (the buyer
program is an example agent); marketd serves the market over TCP to many
agents at once, with a live monitor in the browser; market-sim plays
built-in bidders on virtual time; tournament runs many seeded sessions into
an SQLite database and prints a leaderboard; market-report draws a session or
a tournament as one HTML page; agent-check tests an agent against the
protocol's rules. Example scenarios and tournament files are in
/usr/share/auction-market.")
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
include(CPack)
