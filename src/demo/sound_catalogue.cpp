#include "demo/sound_catalogue.h"

namespace morvane::demo {

namespace {

struct Row {
    const char* catId;
    const char* category;
    const char* subCategory;
    const char* fxName;
    const char* description;
    const char* keywords;
    int rate;
    SoundFamily family;
    float seconds;
    float size;
    float brightness;
    int note;
    int channels;
};

using F = SoundFamily;

// Levels differ on purpose: a library where everything peaks alike would hide what
// the build's loudness normalisation does.
float PeakFor(SoundFamily family) {
    switch (family) {
        case F::RoomTone:
        case F::Wind:
        case F::Forest:
        case F::Rain: return -9.0f;
        case F::Drone:
        case F::FireBurn:
        case F::WaterFlow: return -6.0f;
        default: return -1.5f;
    }
}

// clang-format off
const Row kRows[] = {
    // Struck wood.
    {"WOODImpt", "WOOD", "IMPACT", "Door Slam", "Heavy wooden door slammed shut, solid thud", "door slam wood impact heavy", 48000, F::WoodImpact, 1.6f, 0.9f, 0.4f, 60, 1},
    {"WOODImpt", "WOOD", "IMPACT", "Crate Hit", "Wooden crate struck with a fist, hollow knock", "crate box hit wood hollow", 48000, F::WoodImpact, 1.0f, 0.7f, 0.5f, 60, 1},
    {"WOODImpt", "WOOD", "IMPACT", "Plank Drop", "Wooden plank dropped flat on a floor", "plank drop board wood", 44100, F::WoodImpact, 1.2f, 0.6f, 0.6f, 60, 1},
    {"WOODImpt", "WOOD", "IMPACT", "Knock Small", "Knuckle knock on a small wooden box", "knock tap wood small", 48000, F::WoodImpact, 0.6f, 0.15f, 0.7f, 60, 1},
    {"WOODImpt", "WOOD", "IMPACT", "Table Thump", "Fist thump on a wooden table", "table thump fist wood", 44100, F::WoodImpact, 0.9f, 0.5f, 0.3f, 60, 1},
    {"WOODImpt", "WOOD", "IMPACT", "Chair Hit", "Wooden chair knocked over onto its back", "chair hit fall wood", 48000, F::WoodImpact, 1.1f, 0.4f, 0.55f, 60, 2},
    // Struck metal.
    {"METLImpt", "METAL", "IMPACT", "Pipe Hit", "Steel pipe struck with a hammer, long ring", "pipe hit steel ring clang", 48000, F::MetalImpact, 2.5f, 0.45f, 0.7f, 60, 1},
    {"METLImpt", "METAL", "IMPACT", "Sheet Clang", "Large metal sheet hit, wobbling clang", "sheet clang metal large", 44100, F::MetalImpact, 3.0f, 0.85f, 0.5f, 60, 1},
    {"METLImpt", "METAL", "IMPACT", "Pan Hit", "Frying pan struck with a spoon", "pan hit kitchen metal", 48000, F::MetalImpact, 1.5f, 0.3f, 0.8f, 60, 1},
    {"METLImpt", "METAL", "IMPACT", "Railing Hit", "Iron railing kicked, dull clang", "railing kick iron metal", 44100, F::MetalImpact, 2.0f, 0.6f, 0.35f, 60, 1},
    {"METLImpt", "METAL", "IMPACT", "Anvil Tap", "Small hammer tap on an anvil, bright ping", "anvil tap ping metal bright", 48000, F::MetalImpact, 2.0f, 0.1f, 0.95f, 60, 1},
    {"METLImpt", "METAL", "IMPACT", "Locker Slam", "Metal locker door slammed", "locker slam door metal", 48000, F::MetalImpact, 2.2f, 0.7f, 0.6f, 60, 2},
    // Glass.
    {"GLASImpt", "GLASS", "IMPACT", "Bottle Tap", "Glass bottle tapped with a ring", "bottle tap glass clink", 44100, F::GlassImpact, 1.2f, 0.4f, 0.8f, 60, 1},
    {"GLASImpt", "GLASS", "IMPACT", "Window Knock", "Knock on a window pane", "window knock pane glass", 48000, F::GlassImpact, 1.0f, 0.8f, 0.5f, 60, 1},
    {"GLASImpt", "GLASS", "IMPACT", "Glass Clink", "Two wine glasses clinking", "clink toast glass wine", 44100, F::GlassImpact, 1.5f, 0.2f, 0.9f, 60, 1},
    {"GLASImpt", "GLASS", "IMPACT", "Jar Set Down", "Glass jar set down on a table", "jar set down glass", 48000, F::GlassImpact, 0.9f, 0.6f, 0.6f, 60, 1},
    {"GLASBrk", "GLASS", "BREAK", "Bottle Smash", "Glass bottle smashed on concrete, shards", "bottle smash break shatter glass", 48000, F::GlassBreak, 2.0f, 0.5f, 0.9f, 60, 1},
    {"GLASBrk", "GLASS", "BREAK", "Window Shatter", "Window pane shattering, large crash", "window shatter break crash glass", 48000, F::GlassBreak, 2.5f, 0.95f, 0.8f, 60, 2},
    // Bodies.
    {"FGHTImpt", "FIGHT", "IMPACT", "Punch Body", "Punch to the body, dull thud", "punch hit body fight thud", 48000, F::BodyImpact, 0.7f, 0.5f, 0.4f, 60, 1},
    {"FGHTImpt", "FIGHT", "IMPACT", "Punch Face", "Punch to the face, sharp slap", "punch hit face fight slap", 48000, F::BodyImpact, 0.6f, 0.3f, 0.8f, 60, 1},
    {"FGHTImpt", "FIGHT", "IMPACT", "Body Hit Heavy", "Heavy hit to a body, deep thump", "hit body heavy thump fight", 44100, F::BodyImpact, 0.9f, 0.95f, 0.3f, 60, 1},
    {"FGHTImpt", "FIGHT", "IMPACT", "Kick Body", "Kick to the stomach", "kick body hit fight", 48000, F::BodyImpact, 0.8f, 0.7f, 0.5f, 60, 1},
    {"FGHTBf", "FIGHT", "BODYFALL", "Bodyfall Floor", "Body falling onto a wooden floor", "bodyfall fall body floor", 48000, F::BodyFall, 1.5f, 0.6f, 0.4f, 60, 1},
    {"FGHTBf", "FIGHT", "BODYFALL", "Bodyfall Dirt", "Body falling onto dirt, soft", "bodyfall fall body dirt", 44100, F::BodyFall, 1.5f, 0.8f, 0.2f, 60, 1},
    // Stone.
    {"ROCKImpt", "ROCKS", "IMPACT", "Boulder Drop", "Large rock dropped onto rocks, debris", "rock boulder drop stone impact", 48000, F::StoneImpact, 2.0f, 0.9f, 0.4f, 60, 2},
    {"ROCKImpt", "ROCKS", "IMPACT", "Stone Hit", "Stone thrown against a wall", "stone hit rock wall impact", 44100, F::StoneImpact, 1.2f, 0.4f, 0.7f, 60, 1},
    // Moving air.
    {"WHSH", "SWOOSHES", "WHOOSH", "Fast Whoosh", "Fast whoosh past the camera", "whoosh fast swoosh air", 48000, F::Whoosh, 1.0f, 0.3f, 0.7f, 60, 1},
    {"WHSH", "SWOOSHES", "WHOOSH", "Slow Whoosh", "Slow heavy whoosh, deep air", "whoosh slow heavy air", 48000, F::Whoosh, 2.5f, 0.8f, 0.3f, 60, 2},
    {"WHSH", "SWOOSHES", "WHOOSH", "Whoosh Airy", "Light airy whoosh", "whoosh airy light", 44100, F::Whoosh, 1.5f, 0.4f, 0.9f, 60, 1},
    {"WHSH", "SWOOSHES", "WHOOSH", "Whoosh Low", "Low rumbling whoosh", "whoosh low rumble", 48000, F::Whoosh, 2.0f, 0.9f, 0.1f, 60, 1},
    {"WHSH", "SWOOSHES", "WHOOSH", "Whoosh Medium", "Medium whoosh, clean", "whoosh medium clean", 48000, F::Whoosh, 1.5f, 0.5f, 0.5f, 60, 1},
    {"SWSH", "SWOOSHES", "SWISH", "Cane Swish", "Thin cane swished through the air", "swish cane thin swoosh", 48000, F::Whoosh, 0.6f, 0.1f, 1.0f, 60, 1},
    {"SWSH", "SWOOSHES", "SWISH", "Cloth Swish", "Coat swished quickly", "swish cloth coat", 44100, F::Whoosh, 0.8f, 0.3f, 0.6f, 60, 1},
    {"DSGNWhsh", "DESIGNED", "WHOOSH", "Transition Whoosh", "Designed whoosh for a transition", "whoosh transition designed", 48000, F::Whoosh, 3.0f, 0.7f, 0.6f, 60, 2},
    {"DSGNWhsh", "DESIGNED", "WHOOSH", "Sweep Whoosh", "Designed sweep whoosh", "whoosh sweep designed", 48000, F::Whoosh, 2.0f, 0.5f, 0.8f, 60, 2},
    {"VEHBy", "VEHICLES", "BY", "Car Passby", "Car passing by left to right", "passby car pass by vehicle", 48000, F::Passby, 4.0f, 0.8f, 0.4f, 60, 2},
    {"VEHBy", "VEHICLES", "BY", "Bike Passby", "Motorbike passing by fast", "passby bike motorbike pass by", 48000, F::Passby, 3.0f, 0.5f, 0.7f, 60, 2},
    // Designed tension.
    {"DSGNRise", "DESIGNED", "RISER", "Tension Riser", "Rising tension build, noise and tone", "riser rise tension build", 48000, F::Riser, 6.0f, 0.5f, 0.6f, 48, 2},
    {"DSGNRise", "DESIGNED", "RISER", "Short Riser", "Short riser into a hit", "riser rise short build", 48000, F::Riser, 3.0f, 0.4f, 0.8f, 55, 2},
    {"DSGNRise", "DESIGNED", "RISER", "Dark Riser", "Dark slow riser", "riser rise dark", 44100, F::Riser, 5.0f, 0.8f, 0.2f, 43, 1},
    {"DSGNRise", "DESIGNED", "RISER", "Bright Riser", "Bright fast riser, airy", "riser rise bright fast", 48000, F::Riser, 2.5f, 0.2f, 1.0f, 60, 2},
    {"DSGNRise", "DESIGNED", "RISER", "Long Riser", "Long slow riser with a deep tone", "riser rise long slow", 44100, F::Riser, 8.0f, 0.7f, 0.4f, 36, 2},
    {"DSGNDron", "DESIGNED", "DRONE", "Dark Drone", "Dark low drone, slowly beating", "drone dark low tension", 48000, F::Drone, 10.0f, 0.8f, 0.2f, 36, 2},
    {"DSGNDron", "DESIGNED", "DRONE", "Warm Drone", "Warm drone pad", "drone warm pad", 48000, F::Drone, 10.0f, 0.5f, 0.5f, 43, 2},
    {"DSGNDron", "DESIGNED", "DRONE", "Eerie Drone", "Eerie high drone", "drone eerie high", 44100, F::Drone, 8.0f, 0.3f, 0.8f, 55, 1},
    // Tuned hits.
    {"DSGNTonl", "DESIGNED", "TONAL", "Tonal Hit C3", "Tonal impact tuned to C3", "tonal hit impact boom note", 48000, F::TonalHit, 3.0f, 0.8f, 0.5f, 48, 2},
    {"DSGNTonl", "DESIGNED", "TONAL", "Tonal Hit E3", "Tonal impact tuned to E3", "tonal hit impact boom note", 48000, F::TonalHit, 3.0f, 0.7f, 0.5f, 52, 2},
    {"DSGNTonl", "DESIGNED", "TONAL", "Tonal Hit G3", "Tonal impact tuned to G3", "tonal hit impact boom note", 48000, F::TonalHit, 3.0f, 0.6f, 0.6f, 55, 2},
    {"DSGNTonl", "DESIGNED", "TONAL", "Tonal Hit A3", "Tonal impact tuned to A3", "tonal hit impact boom note", 44100, F::TonalHit, 3.0f, 0.6f, 0.6f, 57, 1},
    {"DSGNTonl", "DESIGNED", "TONAL", "Tonal Hit D4", "Tonal impact tuned to D4", "tonal hit impact boom note", 44100, F::TonalHit, 3.0f, 0.4f, 0.7f, 62, 1},
    // Fire.
    {"FIRECrkl", "FIRE", "CRACKLE", "Campfire Crackle", "Campfire crackling, close", "fire crackle campfire", 48000, F::FireCrackle, 8.0f, 0.5f, 0.6f, 60, 2},
    {"FIRECrkl", "FIRE", "CRACKLE", "Fireplace Crackle", "Fireplace crackle, small logs", "fire crackle fireplace logs", 44100, F::FireCrackle, 8.0f, 0.3f, 0.5f, 60, 1},
    {"FIREBurn", "FIRE", "BURNING", "Fire Burning", "Large fire burning, roar", "fire burning roar flames", 48000, F::FireBurn, 8.0f, 0.8f, 0.5f, 60, 2},
    {"FIREBurn", "FIRE", "BURNING", "Torch Burning", "Torch burning steadily", "fire burning torch flame", 48000, F::FireBurn, 6.0f, 0.4f, 0.7f, 60, 1},
    // Water.
    {"WATRFlow", "WATER", "FLOW", "Stream Flow", "Small stream flowing over stones", "water stream flow river", 48000, F::WaterFlow, 8.0f, 0.5f, 0.5f, 60, 2},
    {"WATRFlow", "WATER", "FLOW", "Tap Running", "Kitchen tap running into a sink", "water tap running sink", 44100, F::WaterFlow, 6.0f, 0.3f, 0.8f, 60, 1},
    {"WATRBubl", "WATER", "BUBBLES", "Bubbles Pot", "Bubbles in a pot of water", "water bubbles boil", 48000, F::WaterBubbles, 5.0f, 0.5f, 0.5f, 60, 1},
    {"WATRDrip", "WATER", "DRIP", "Cave Drips", "Water dripping in a cave", "water drip drips cave", 48000, F::WaterDrips, 6.0f, 0.6f, 0.5f, 60, 1},
    {"WATRSplsh", "WATER", "SPLASH", "Splash Big", "Big splash into water", "water splash big plunge", 48000, F::WaterSplash, 2.0f, 0.9f, 0.5f, 60, 2},
    {"WATRSplsh", "WATER", "SPLASH", "Splash Small", "Small splash, hand in water", "water splash small hand", 44100, F::WaterSplash, 1.2f, 0.3f, 0.6f, 60, 1},
    // Rooms and places.
    {"AMBRoom", "AMBIENCE", "ROOM TONE", "Office Room Tone", "Quiet office room tone, air conditioning", "room tone office quiet air", 48000, F::RoomTone, 10.0f, 0.6f, 0.4f, 60, 2},
    {"AMBRoom", "AMBIENCE", "ROOM TONE", "Bedroom Night", "Bedroom at night, very quiet", "room tone bedroom night quiet", 48000, F::RoomTone, 10.0f, 0.2f, 0.2f, 60, 1},
    {"AMBRoom", "AMBIENCE", "ROOM TONE", "Basement Hum", "Basement with a humming boiler", "room tone basement hum", 44100, F::RoomTone, 10.0f, 1.0f, 0.5f, 60, 1},
    {"AMBForst", "AMBIENCE", "FOREST", "Forest Morning", "Forest in the morning, light wind, birds", "forest birds morning wind ambience", 48000, F::Forest, 10.0f, 0.5f, 0.5f, 60, 2},
    {"WIND", "WIND", "GENERAL", "Wind Steady", "Steady wind with gusts", "wind gusts steady ambience", 48000, F::Wind, 10.0f, 0.5f, 0.4f, 60, 2},
    {"RAIN", "RAIN", "GENERAL", "Rain Steady", "Steady rain on a street", "rain steady street ambience", 48000, F::Rain, 10.0f, 0.5f, 0.5f, 60, 2},
    // Footsteps.
    {"FEETHmn", "FOOTSTEPS", "HUMAN", "Steps Concrete", "Footsteps on concrete, shoes, walking", "footsteps steps walk concrete", 48000, F::Footsteps, 6.0f, 0.3f, 0.7f, 60, 1},
    {"FEETHmn", "FOOTSTEPS", "HUMAN", "Steps Gravel", "Footsteps on gravel, boots", "footsteps steps walk gravel", 48000, F::Footsteps, 6.0f, 0.8f, 0.6f, 60, 1},
    {"FEETHmn", "FOOTSTEPS", "HUMAN", "Steps Wood Floor", "Footsteps on a wooden floor", "footsteps steps walk wood floor", 44100, F::Footsteps, 6.0f, 0.4f, 0.3f, 60, 1},
    {"FEETHmn", "FOOTSTEPS", "HUMAN", "Steps Grass", "Footsteps on grass, soft", "footsteps steps walk grass", 44100, F::Footsteps, 6.0f, 0.2f, 0.1f, 60, 1},
    {"FEETHmn", "FOOTSTEPS", "HUMAN", "Step Single Concrete", "Single footstep on concrete, shoe", "footsteps step single concrete", 48000, F::Footsteps, 0.7f, 0.3f, 0.7f, 60, 1},
    {"FEETHmn", "FOOTSTEPS", "HUMAN", "Step Single Gravel", "Single footstep on gravel, boot", "footsteps step single gravel", 48000, F::Footsteps, 0.7f, 0.8f, 0.6f, 60, 1},
    {"FEETHmn", "FOOTSTEPS", "HUMAN", "Step Single Wood", "Single footstep on a wooden floor", "footsteps step single wood", 44100, F::Footsteps, 0.7f, 0.4f, 0.3f, 60, 1},
    {"FEETHmn", "FOOTSTEPS", "HUMAN", "Step Single Tile", "Single footstep on tiles, heel", "footsteps step single tile heel", 48000, F::Footsteps, 0.7f, 0.1f, 0.9f, 60, 1},
    {"FEETHmn", "FOOTSTEPS", "HUMAN", "Steps Run Concrete", "Running footsteps on concrete", "footsteps steps run running concrete", 48000, F::Footsteps, 4.0f, 0.3f, 1.0f, 60, 1},
};
// clang-format on

}  // namespace

std::vector<DemoSound> DemoSoundCatalogue() {
    std::vector<DemoSound> sounds;
    uint32_t seed = 1000;
    for (const Row& row : kRows) {
        DemoSound s;
        s.catId = row.catId;
        s.category = row.category;
        s.subCategory = row.subCategory;
        s.fxName = row.fxName;
        s.description = row.description;
        s.keywords = row.keywords;
        s.sampleRate = row.rate;
        s.params.family = row.family;
        s.params.seconds = row.seconds;
        s.params.size = row.size;
        s.params.brightness = row.brightness;
        s.params.note = row.note;
        s.params.channels = row.channels;
        s.params.peakDb = PeakFor(row.family);
        s.seed = seed++;
        sounds.push_back(s);
    }
    // A 5.1 room tone recorded as six mono files: the multi-mono set.
    DemoSound hall;
    hall.catId = "AMBRoom";
    hall.category = "AMBIENCE";
    hall.subCategory = "ROOM TONE";
    hall.fxName = "Hall Tone 51";
    hall.description = "Empty concert hall room tone, 5.1 multi-mono";
    hall.keywords = "room tone hall empty surround";
    hall.sampleRate = 48000;
    hall.params.family = F::RoomTone;
    hall.params.seconds = 6.0f;
    hall.params.size = 0.4f;
    hall.params.brightness = 0.6f;
    hall.params.peakDb = -12.0f;
    hall.seed = seed++;
    hall.speakerSuffixes = {"L", "R", "C", "LFE", "Ls", "Rs"};
    sounds.push_back(hall);
    return sounds;
}

std::string DemoSoundFileName(const DemoSound& sound, const std::string& speakerSuffix) {
    std::string name = sound.catId + "_" + sound.fxName + "_" + kDemoCreatorId + "_" + kDemoSourceId;
    if (!speakerSuffix.empty()) name += "_" + speakerSuffix;
    return name + ".wav";
}

std::vector<std::string> DemoSoundFileNames() {
    std::vector<std::string> names;
    for (const DemoSound& sound : DemoSoundCatalogue()) {
        if (sound.speakerSuffixes.empty()) names.push_back(DemoSoundFileName(sound));
        for (const std::string& suffix : sound.speakerSuffixes) names.push_back(DemoSoundFileName(sound, suffix));
    }
    return names;
}

}  // namespace morvane::demo
