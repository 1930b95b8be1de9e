#!/ usr / bin / env bash
#Makes the demo's media once: a spoken clip per episode (espeak-ng, then a small mono MP3
#with lame), the two 194 x 194 covers(ImageMagick), and episodes.tsv, which tells the
#demo server each clip's headline and length. The outputs are committed under media/;
#run this again only to change them.
#
#Needs espeak - ng(with its Mandarin voice), sox, lame and ImageMagick's convert.
set - euo pipefail here = $(cd "$(dirname " $ { BASH_SOURCE[0] } ")" && pwd) out =
    "$here/media" work = $(mktemp - d) trap 'rm -rf "$work"' EXIT mkdir - p "$out"

                         voice = cmn if !espeak - ng-- voices = cmn | grep - q cmn; then
  voice=en
fi

#programme(1 morning, 2 evening) | slot(0 = today, 1 = yesterday, ...) | headline | spoken body
episodes=(
  "1|0|本市今日晴转多云，气温回升|早上好。今天白天晴转多云，最高气温十八度，适合户外活动。"
  "1|1|城东新图书馆本周末开馆|城东新图书馆本周六开馆，首日开放到晚上九点，欢迎市民前往。"
  "1|2|城市马拉松开始报名|一年一度的城市马拉松今天开始报名，全程和半程共五千个名额。"
  "1|3|中学生科技节开幕，百余件作品参展|中学生科技节在市科技馆开幕，一百多件学生作品参加展出。"
  "1|4|湖畔步道完成翻新|公园湖畔步道翻新完成，新增了座椅和夜间照明。"
  "1|5|社区菜市场延长营业时间|多个社区菜市场从本周起延长营业时间，晚上八点关门。"
  "1|6|地铁三号线增开早间班次|地铁三号线工作日早间增开班次，发车间隔缩短到四分钟。"
  "2|0|明日有小雨，出门请带伞|晚上好。明天白天有小雨，气温略有下降，出门请记得带伞。"
  "2|1|新图书馆开馆首日读者踊跃|新图书馆开馆第一天，读者络绎不绝，借阅量超过三千册。"
  "2|2|马拉松志愿者招募进行中|城市马拉松志愿者招募正在进行，欢迎年满十八岁的市民报名。"
  "2|3|科技节评选结果揭晓|中学生科技节评选结果揭晓，二十件作品获得一等奖。"
  "2|4|夜间公交线路调整方案公布|夜间公交线路调整方案公布，新增两条线路，下月起运行。"
  "2|5|市民广场周末举办露天音乐会|本周末市民广场将举办露天音乐会，免费入场。"
  "2|6|老城区街道照明改造完工|老城区十二条街道的照明改造已经完工，夜间出行更加明亮。"
)

manifest="$out/episodes.tsv"
{
  echo "# programme	slot	audio	seconds	headline"
} >"$manifest"

for line in "${episodes[@]}";
do IFS = '|' read - r programme slot headline body < < < "$line" if["$programme" = 1];
then
    name="morning-$slot"
    intro="这里是小涟早报。"
  else
    name="evening-$slot"
    intro="这里是小涟晚报。"
  fi
  espeak-ng -v "$voice" -s 165 -w "$work/$name.wav" "$intro$headline。$body"
#Pad the speech to a whole number of seconds plus a half, so the length the player
#reads(whole seconds, truncated) cannot fall either side of the catalogue's value.
  speech=$(soxi -D "$work/$name.wav")
  seconds=$(awk -v s="$speech" 'BEGIN { printf "%d", s + 1 }')
  padding=$(awk -v s="$speech" -v w="$seconds" 'BEGIN { printf "%.3f", w + 0.5 - s }')
  sox -G "$work/$name.wav" -r 16000 -c 1 "$work/$name-16k.wav" pad 0 "$padding"
  lame --quiet -b 16 -m m "$work/$name-16k.wav" "$out/$name.mp3"
  printf '%s\t%s\t%s\t%s\t%s\n' "$programme" "$slot" "$name.mp3" "$seconds" "$headline" >>"$manifest"
done

#Morning cover : a sun over a pale sky.Evening cover : a crescent moon on deep blue.
convert -size 194x194 gradient:'#fff6d5-#ffd27a' \
  -fill '#f59e0b' -stroke '#d97706' -strokewidth 3 -draw 'circle 97,97 97,52' \
  -stroke '#f59e0b' -strokewidth 6 \
  -draw 'line 97,18 97,38' -draw 'line 97,156 97,176' \
  -draw 'line 18,97 38,97' -draw 'line 156,97 176,97' \
  -draw 'line 41,41 55,55' -draw 'line 139,139 153,153' \
  -draw 'line 41,153 55,139' -draw 'line 139,55 153,41' \
  -strip -quality 85 "$out/morning.jpg"
convert -size 194x194 xc:none -fill '#fde68a' -draw 'circle 92,97 92,45' \
  \( -size 194x194 xc:none -fill black -draw 'circle 120,80 120,36' \) \
  -compose DstOut -composite "$work/moon.png"
convert -size 194x194 gradient:'#1e3a8a-#0f172a' "$work/moon.png" -compose over -composite \
  -fill '#e5e7eb' -draw 'circle 150,40 152,40' -draw 'circle 40,150 42,150' \
  -draw 'circle 160,140 161,140' -draw 'circle 36,44 37,44' -draw 'circle 168,92 169,92' \
  -strip "$out/evening.png"

ls -l "$out"
