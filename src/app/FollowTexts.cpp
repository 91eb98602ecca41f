// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/FollowTexts.h"

namespace {
const TFollowTexts English = {
    "Follow this list",
    "Its videos listed from now on are downloaded at each check (Following view)",
    "also the latest:",
    "How many of the videos listed now are taken by the first check too (a channel lists its newest first)",
    "Following %1",
    "This list is followed already.",
    "The list of followed pages could not be written.",
    "Following",
    "Address",
    "Folder",
    "Last check",
    "Videos taken",
    "Check now",
    "Remove",
    "A check of the followed pages is running already.",
    "Checking the followed pages...",
    "Follow %1 no more?",
};

const TFollowTexts Polish = {
    "Obserwuj tę listę",
    "Filmy, które się na niej pojawią, będą pobierane przy każdym sprawdzeniu (widok Obserwowane)",
    "i ostatnie:",
    "Ile z filmów obecnych na liście pobrać przy pierwszym sprawdzeniu (kanał wymienia najpierw najnowsze)",
    "Obserwowana: %1",
    "Ta lista jest już obserwowana.",
    "Nie można zapisać listy obserwowanych stron.",
    "Obserwowane",
    "Adres",
    "Folder",
    "Ostatnie sprawdzenie",
    "Pobrane filmy",
    "Sprawdź teraz",
    "Usuń",
    "Sprawdzanie obserwowanych stron już trwa.",
    "Sprawdzanie obserwowanych stron...",
    "Przestać obserwować %1?",
};

// Polish plural of "nowy film": 1, 2-4 (not 12-14), the rest.
const char* PolishNewVideos(std::size_t n)
{
    if (n == 1)
        return "nowy film";
    if (n % 10 >= 2 && n % 10 <= 4 && (n % 100 < 12 || n % 100 > 14))
        return "nowe filmy";
    return "nowych filmów";
}
} // namespace

const TFollowTexts& FollowTexts(bool polish)
{
    return polish ? Polish : English;
}

std::string FollowFoundText(std::size_t count, const std::string& list, bool polish)
{
    if (polish)
        return std::to_string(count) + " " + PolishNewVideos(count) + ": " + list;
    return std::to_string(count) + (count == 1 ? " new video from " : " new videos from ") + list;
}
