# Debian's own source packages, fetched and unpacked as dpkg-source would, for the cross builds
# (Windows, the web) of the libraries the Linux build links. Sourced; set `work` (a scratch
# directory) and `debsrc_tag` (the prefix of messages) first, then call debsrc_init once.

# apt-get source through a configuration of our own: the machine's Debian archives as deb-src,
# with lists and downloads in this run's directory; the machine's sources stay as they are.
debsrc_init() {
  apt_dir="$work/apt"
  mkdir -p "$apt_dir/lists/partial" "$apt_dir/parts" "$work/src"
  local origin=/etc/apt/sources.list.d/debian.sources
  if [ -f "$origin" ] && grep -q '^Types: *deb$' "$origin"; then
    sed 's/^Types: *deb$/Types: deb-src/' "$origin" >"$apt_dir/parts/debian-src.sources"
    touch "$apt_dir/sources.list"
  else
    . /etc/os-release
    printf 'deb-src http://deb.debian.org/debian %s main\ndeb-src http://deb.debian.org/debian %s-updates main\ndeb-src http://deb.debian.org/debian-security %s-security main\n' \
      "$VERSION_CODENAME" "$VERSION_CODENAME" "$VERSION_CODENAME" >"$apt_dir/sources.list"
  fi
  apt_private=(-o Dir::Etc::SourceList="$apt_dir/sources.list" -o Dir::Etc::SourceParts="$apt_dir/parts"
               -o Dir::State::Lists="$apt_dir/lists" -o Dir::Cache::pkgcache="" -o Dir::Cache::srcpkgcache=""
               -o APT::Sandbox::User=root -o quiet=2)
  apt-get "${apt_private[@]}" update >&2
}

# The source package and version behind an installed binary package, as "source version".
debsrc_of() { dpkg-query -W -f '${source:Package} ${source:Version}\n' "$1"; }

debsrc_fetch() {  # source package, version: into $work/src
  local spec="$1=$2" uri file size hash
  (cd "$work/src" && apt-get "${apt_private[@]}" source --download-only "$spec" >/dev/null 2>&1) && return
  # Some archive mirrors lack the upstream signatures (.asc) that a source package lists; they are
  # not needed to build, so fetch the rest one by one, each checked against the index's hash.
  while read -r uri file size hash; do
    case $file in *.asc) continue ;; esac
    [ -f "$work/src/$file" ] ||
      /usr/lib/apt/apt-helper "${apt_private[@]}" download-file "$uri" "$work/src/$file" "$hash" >/dev/null
  done < <(apt-get "${apt_private[@]}" --print-uris source "$spec" 2>/dev/null | sed -n "s/^'\([^']*\)' /\1 /p")
}

# Every file a .dsc names must match its SHA-256 there (apt has checked the .dsc itself against
# the archive's signed index); only an absent upstream signature is let pass.
debsrc_check() {
  local dsc=$1 sum file
  awk '/^Checksums-Sha256:/ {on=1; next} /^[^ ]/ {on=0} on && NF==3 {print $1, $3}' "$dsc" |
  while read -r sum file; do
    if [ ! -f "$work/src/$file" ]; then
      case $file in *.asc) continue ;; esac
      echo "$debsrc_tag: $file missing" >&2; exit 1
    fi
    echo "$sum  $work/src/$file" | sha256sum --quiet -c - >&2 ||
      { echo "$debsrc_tag: checksum mismatch for $file in $dsc" >&2; exit 1; }
  done
}

# A "3.0 (quilt)" source package unpacked: the upstream tarball, the debian/ tarball over it,
# then Debian's patches in series order. Prints the tree.
debsrc_unpack() {
  local dsc dir orig deb p
  dsc=$(ls "$work/src/$1"_*.dsc)
  debsrc_check "$dsc"
  grep -q '^Format: 3.0 (quilt)' "$dsc" || { echo "$debsrc_tag: $dsc: unexpected format" >&2; exit 1; }
  dir="$work/src/$1"
  mkdir -p "$dir"
  orig=$(ls "$work/src/$1"_*.orig.tar.* | grep -v '\.asc$')
  deb=$(ls "$work/src/$1"_*.debian.tar.*)
  tar -xf "$orig" -C "$dir" --strip-components=1
  rm -rf "$dir/debian"
  tar -xf "$deb" -C "$dir"
  if [ -f "$dir/debian/patches/series" ]; then
    sed -e 's/#.*//' "$dir/debian/patches/series" | while read -r p _; do
      [ -n "$p" ] && patch -d "$dir" -p1 -s -N <"$dir/debian/patches/$p" >&2
    done
  fi
  echo "$dir"
}
