// The pure part of the catalogue load: dates in titles, the merge of the two programmes'
// pages and the filter of what is due. The worker feeds it what it read by path.
#pragma once

#include <array>
#include <string_view>
#include <vector>

#include "util/types.h"

namespace newsbar {

// A text as an integer: leading blanks (space, tab, full-width space) and one sign are
// skipped, full-width digits count as digits, reading stops at the first non-digit; no
// leading digit gives 0. Values beyond int are held at its limits.
int TextToInt(std::string_view text);

// year * 10000 + month * 100 + day, built the way the titles are compared: the three
// numbers written in decimal (month and day padded to two digits), joined, read back.
int DateInteger(int year, int month, int day);

// The date of a title such as "7月20日小涟早报：..." in the given year: the text in front
// of the marker gives month and day. A title without the marker gives month and day 0,
// i.e. year * 10000, older than any date of that year.
int TitleDate(std::string_view title, std::string_view marker, int year);

// The network's idea of now at UTC+8, as far as the filter needs it.
struct NetworkNow {
  int year = 0;
  int month = 0;
  int day = 0;
  int hour = 0;
};

// Titles carry no year. This is TitleDate in the year that puts the title's month and day
// nearest to today: this year, or the year before when that is nearer (a December
// episode seen in January). Month and day that make no date stay in this year, and so
// does everything in the year 100, the first of the network time's calendar (and what a
// failed time query gives).
int TitleDateNearToday(std::string_view title, std::string_view marker, const NetworkNow& now);

// One episode as read from a catalogue page; texts as the document gives them.
struct CatalogueEpisode {
  Text title;
  Text audioUrl;
  Text coverUrl;
  Text duration;  // seconds, as the number's text or numeric text
};

// One list row: title, audio URL, cover URL, duration text, copy of the duration text.
using EpisodeRow = std::array<Text, 5>;

// Merges the morning and the evening page into rows, newest first. The pages alternate,
// starting with the evening one when both first episodes are dated today (both of
// today's editions are out), else with the morning one; once a page is used up the rest
// of the other follows in its own order. Titles are dated by TitleDateNearToday. An
// episode dated after today is left out, one dated today only before 05:00 (not yet due).
std::vector<EpisodeRow> MergeEpisodes(const std::vector<CatalogueEpisode>& morning,
                                      const std::vector<CatalogueEpisode>& evening,
                                      const NetworkNow& now);

// A row that a refresh adds to the list: inserted at `at`, counted in the list as it grows.
struct RowInsertion {
  int at = 0;
  EpisodeRow row;
};

// Where a refresh's rows go in a list that holds episodes with the `listed` audio URLs, top
// to bottom. A fresh row whose audio URL is not listed yet goes right after the nearest
// fresh row above it that is listed (after any new rows already placed there), or on top
// when there is none; listed rows stay where they are, also those the refresh no longer
// names. The insertions come in the order to make them (ascending `at`).
std::vector<RowInsertion> PlanInsertions(const std::vector<Text>& listed,
                                         const std::vector<EpisodeRow>& fresh);

}  // namespace newsbar
