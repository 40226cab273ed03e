# The one configuration of the build folders that scripts/test.sh and scripts/run.sh share
# (sourced by both), so that running one after the other rebuilds only what changed. Every
# option is given, so that a folder configured otherwise by hand is brought back to it.
#   dpx20_configure DIR [-DOPTION=VALUE...]
dpx20_configure() {
  local dir=$1
  shift
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDPX20_WERROR=ON \
    -DDPX20_SANITIZE=OFF -DDPX20_TSAN=OFF -DDPX20_FUZZ=OFF -DDPX20_CORE_ONLY=OFF "$@"
}
