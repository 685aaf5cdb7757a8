# The benchmarks' 100 MB text corpus (sourced, not run): 50 MB of
# /usr/share/doc (gzip'ed files unpacked) followed by 50 MB of /usr/include.
#   make_text_corpus FILE   writes FILE unless it exists already
make_text_corpus() {
  local file=$1 size=100000000
  [ -s "$file" ] && return 0
  echo "building the text corpus..." >&2
  {
    find /usr/share/doc -type f | LC_ALL=C sort | while read -r f; do
      case "$f" in
        *.gz) gzip -dc "$f" 2>/dev/null || true ;;
        *) grep -Iq . "$f" 2>/dev/null && cat "$f" ;;
      esac
    done | head -c $((size / 2)) || true
    find /usr/include -type f | LC_ALL=C sort | xargs -d "\n" cat 2>/dev/null | head -c $((size / 2)) || true
  } > "$file"
}
