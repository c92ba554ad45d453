#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "library/ucs.h"

namespace morvane {
namespace {

TEST(Ucs, TableIsTheCompleteListInOrder) {
    ASSERT_EQ(kUcsRowCount, 753);
    EXPECT_STREQ(kUcsRows[0].catId, "AIRBlow");
    EXPECT_STREQ(kUcsRows[kUcsRowCount - 1].catId, "WOODTonl");
    EXPECT_STREQ(kUcsRows[0].code, "AIR");
    EXPECT_EQ(std::string(kUcsRows[0].synonyms).rfind("|air|blow|aerate|aerosol|", 0), 0u);
}

TEST(Ucs, FindRowIgnoresCaseAndNeedsThreeCharacters) {
    const UcsRow* row = FindUcsRow("airblow");
    ASSERT_NE(row, nullptr);
    EXPECT_STREQ(row->catId, "AIRBlow");
    EXPECT_EQ(FindUcsRow("AI"), nullptr);
    EXPECT_EQ(FindUcsRow(""), nullptr);
    EXPECT_EQ(FindUcsRow("AIRBlowX"), nullptr);
    EXPECT_NE(FindUcsRow("woodtonl"), nullptr);
}

TEST(Ucs, WordsMatchPlurals) {
    EXPECT_TRUE(WordsMatch("door", "doors"));
    EXPECT_TRUE(WordsMatch("boxes", "box"));
    EXPECT_TRUE(WordsMatch("glass", "glasses"));
    EXPECT_TRUE(WordsMatch("hit", "hits"));
    EXPECT_TRUE(WordsMatch("go", "go"));
    EXPECT_FALSE(WordsMatch("go", "gos"));
    EXPECT_FALSE(WordsMatch("door", "doorway"));
    EXPECT_FALSE(WordsMatch("Door", "doors"));
}

TEST(Ucs, InferCategory) {
    // Stop words only, or nothing usable: the default.
    UcsCategory category = InferUcsCategory({"loop", "mix", "st"});
    EXPECT_EQ(category.catId, "DSGNMisc");
    EXPECT_EQ(InferUcsCategory({}).catId, "DSGNMisc");
    EXPECT_EQ(InferUcsCategory({"a", "take2"}).catId, "DSGNMisc");
    // A category word outscores everything: the first row of that category wins.
    category = InferUcsCategory({"Doors", "wood"});
    EXPECT_EQ(category.code, "DOOR");
    EXPECT_EQ(category.category, "doors");
    EXPECT_EQ(category.catId.substr(0, 4), "DOOR");
    category = InferUcsCategory({"glass"});
    EXPECT_EQ(category.code, "GLAS");
    // Category word plus subcategory word picks that row.
    category = InferUcsCategory({"air", "hiss"});
    EXPECT_EQ(category.catId, "AIRHiss");
    // Two synonym hits only (score 2) is below the threshold.
    category = InferUcsCategory({"aerate", "aerosol"});
    EXPECT_EQ(category.catId, "DSGNMisc");
    // Two codes tie at the top: the default. "air" and "wood" each give 6 to their category.
    category = InferUcsCategory({"air", "wood"});
    EXPECT_EQ(category.catId, "DSGNMisc");
}

TEST(Ucs, CoarseCategoryCodes) {
    EXPECT_EQ(CoarseCategoryCode({}), "DSGNMisc");
    EXPECT_EQ(CoarseCategoryCode({{"explosions", KeywordTermKind::Required}}), "EXPL");
    EXPECT_EQ(CoarseCategoryCode({{"Glass", KeywordTermKind::Plain}}), "CRASH");
    EXPECT_EQ(CoarseCategoryCode({{"glass", KeywordTermKind::Excluded}}), "DSGNMisc");
    EXPECT_EQ(CoarseCategoryCode({{"qqqq", KeywordTermKind::Plain}}), "DSGNMisc");
    EXPECT_EQ(CoarseCategoryCode({{"", KeywordTermKind::Plain}}), "DSGNMisc");
    // A required term outweighs a plain one.
    EXPECT_EQ(CoarseCategoryCode({{"water", KeywordTermKind::Plain}, {"fire", KeywordTermKind::Required}}), "FIRE");
}

TEST(Ucs, NameWordsAndPrefixKeywords) {
    EXPECT_EQ(FxNameWords("AIRBlow_Big Gust 02-final"), "Big Gust final");
    EXPECT_EQ(FxNameWords("DOORWood_Slam"), "Slam");
    std::vector<std::string> words = UcsPrefixKeywords("AIRBlow_Big Gust");
    ASSERT_EQ(words.size(), 3u);
    EXPECT_EQ(words[0], "air");
    EXPECT_EQ(words[1], "blow");
    EXPECT_EQ(words[2].rfind("air blow aerate aerosol", 0), 0u);
    EXPECT_TRUE(UcsPrefixKeywords("DSGNBoom_Hit").empty());
    EXPECT_TRUE(UcsPrefixKeywords("AI_Blow").empty());
    EXPECT_TRUE(UcsPrefixKeywords("Door slam").empty());
    EXPECT_EQ(UcsPrefixKeywords("airblow.take").size(), 3u);
}

}  // namespace
}  // namespace morvane
