#!/usr/bin/env bash
# An MPEG-1 system stream whose video carries its sequence header only once,
# in front of the first GOP (ffmpeg repeats it at every GOP; the copies are
# taken out before the video is multiplexed), for the time marker's
# sequence-header insertion under Wine.
set -eu
out=$1
dir=$(dirname "$out")
mkdir -p "$dir"
ffmpeg -v error -y -f lavfi -i testsrc2=size=352x288:rate=25 -t 8 -c:v mpeg1video -b:v 1M -g 25 \
  -f mpeg1video "$dir/repeats.m1v"
# Every later copy of the first sequence header (up to its GOP header) goes.
perl -0777 -e '
  binmode STDIN; binmode STDOUT;
  my $es = <STDIN>;
  $es =~ /(\x00\x00\x01\xB3.*?)(?=\x00\x00\x01\xB8)/s or die "no sequence header\n";
  my $h = $1; my $n = 0;
  $es =~ s/\Q$h\E(?=\x00\x00\x01\xB8)/$n++ ? "" : $h/ge;
  print $es;' <"$dir/repeats.m1v" >"$dir/once.m1v"
ffmpeg -v error -y -f mpegvideo -i "$dir/once.m1v" -c copy -f mpeg "$out"
echo "1 passed, 0 failed"
